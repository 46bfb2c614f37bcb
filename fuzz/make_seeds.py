#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Seeds come from the shipped samples (examples/), from inputs of the readers'
tests, and from the files rumelvb writes for them (hyperparameter and log
files). Usage: make_seeds.py PATH/TO/rumelvb
"""
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
EXAMPLES = os.path.join(ROOT, "examples")
CORPUS = os.path.join(HERE, "corpus")

# The option sets of fuzz/data_setup.h, as rumelvb arguments (same order).
OPTION_SETS = [
    ["-x", "4", "-k", "2"],
    ["-x", "5", "-k", "2", "-y", "3", "-E", "4"],
    ["-x", "6", "-k", "2", "-u", "1,2#4"],
    ["-x", "5", "-k", "2", "-I", "0", "-E", "4", "-u", "2"],
    ["-x", "4", "-k", "2", "-I", "0", "-E", "3"],
    ["-x", "5", "-k", "2:5:1", "-u", "0-3", "-E", "4"],
    ["-x", "10", "-k", "2", "-E", "9"],
    ["-x", "5", "-k", "3", "-u", "0~1", "-y", "4"],
]
FLAG_TXT, FLAG_UNCOMPRESS, FLAG_OCC, FLAG_REGULAR, FLAG_H = 1, 2, 4, 8, 16


def example(name):
    with open(os.path.join(EXAMPLES, name), "rb") as f:
        return f.read()


def head_lines(data, n):
    return b"".join(data.splitlines(keepends=True)[:n])


# Small case files per option set (csv): a names file and the cases. Each
# suits its set's roles; a few carry count columns, missing values, comments.
SYNTHETIC = [
    (b"# four discrete\ncolour\t{red, green ,blue}\nsize\tnominal\nshape nominal\n\nkind\tnominal\n",
     b"# cases\nred,s,round,a\ngreen,m,square,b\nred,s,round,a,4\nblue,?,NA,a\n"
     b"green,l,round,b,007\nred,m,square,?\n"),
    (b"a\tnominal\nb\tnominal\nc\tnominal\nskip\tignored\nclass\teval\n",
     b"x,y,z,,yes\nx,y,z,whatever,yes\nu,v,w,1,no\nx,?,z,0,no\nu,v,w,1,no,3\n"),
    (b"d0\tnominal\nc1\treal\nc2\tinteger\nd3\t{p,q}\nc4\treal\nd5\tnominal\n",
     b"a,1.5,2,p,-3e2,x\nb,0.5,?,q,4,y\na,1e-3,7,p,NA,x\nb,2.25,1,q,0.125,y\nb,3,8,p,1,x,2\n"),
    (b"id\tid\nd1\tnominal\nc2\treal\nd3\tnominal\nclass\teval\n",
     b"c1,a,1.0,x,yes\nc2,b,2.0,y,no\nc3,a,?,x,yes\nc4,b,4.5,y,no\nc5,a,3.25,?,yes,2\n"),
    (b"id\tid\nd1\tnominal\nd2\tnominal\nclass\teval\n",
     b"1,a,x,yes\n2,b,y,no\n3,a,x,yes\n4,?,y,no\n"),
    (example("iris_name.txt"), example("iris_freq.csv")),
    (example("breast-cancer_name.txt"), head_lines(example("breast-cancer_freq.csv"), 60)),
    (b"c0\treal\nc1\treal\nd2\tnominal\nd3\t{u,v,w}\nskip\tignored\n",
     b"1,2,a,u,z\n2,3.5,b,v,z\n-1,0,a,w,\n4,?,b,u,q\n0.5,1,a,v,z\n"),
]


def write(target, name, data):
    d = os.path.join(CORPUS, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def to_txt(cases):
    return cases.replace(b",", b"\t")


def run_rumelvb(rumelvb, work, prefix, args):
    subprocess.run([rumelvb, "-f", prefix, "--seed", "1"] + args, cwd=work,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)


def data_seeds(rumelvb, work):
    hparams = {}
    for i, (names, cases) in enumerate(SYNTHETIC):
        sel = bytes([i])
        write("read_names", f"set{i}", sel + b"\0" + names)
        write("read_cases", f"set{i}", sel + b"\0" + names + b"%%CASES\n" + cases)
        write("read_cases", f"set{i}-nonames", sel + bytes([FLAG_UNCOMPRESS]) + cases)
        write("read_cases", f"set{i}-txt", sel + bytes([FLAG_TXT | FLAG_OCC]) + to_txt(cases))
        write("read_cases", f"set{i}-regular", sel + bytes([FLAG_REGULAR]) + names + b"%%CASES\n" + cases)
        write("read_cases", f"set{i}-fixed", sel + bytes([FLAG_H]) + names + b"%%CASES\n" + cases)
        # The model a fitting run writes for these cases, to read back.
        prefix = f"s{i}"
        with open(os.path.join(work, prefix + "_freq.csv"), "wb") as f:
            f.write(cases)
        with open(os.path.join(work, prefix + "_name.txt"), "wb") as f:
            f.write(names)
        args = list(OPTION_SETS[i])
        args[3] = "2"  # one class count is enough
        try:
            run_rumelvb(rumelvb, work, prefix, args)
        except subprocess.CalledProcessError:
            continue
        with open(os.path.join(work, prefix + "_hparam.csv"), "rb") as f:
            hparam = f.read()
        hparams[i] = hparam
        write("read_hparam", f"set{i}", sel + b"\0" + hparam)
        write("read_hparam", f"set{i}-names", sel + bytes([FLAG_OCC]) + names + b"%%HPARAM\n" + hparam)
        write("read_hparam", f"set{i}-txt", sel + bytes([FLAG_TXT]) + to_txt(hparam))
        with open(os.path.join(work, prefix + "_log.csv"), "rb") as f:
            log = f.read()
        write("cut", f"list{i}", b"x.csv\0\0" + head_lines(log, 120))
    return hparams


def cut_seeds(hparams):
    some = hparams.get(5) or next(iter(hparams.values()))
    write("cut", "view-hparam", b"-v\0hparam\0x.csv\0\0" + some)
    write("cut", "view-exact", b"--view\0HPARAM-CLASS\0-m\0exact\0-d\0a.csv\0b.csv\0\0" + some)
    write("cut", "output-prefix", b"-o\0HPARAM\0-m\0prefix\0-f\0res\0-s\0run2\0x.csv\0\0" + some)
    write("cut", "output-suffix", b"-o\0MEAN0\0-m\0SUFFIX\0-D\0-e\0txt\0x.txt\0\0" + some)
    write("cut", "two-inputs", b"-F\0-v\0CLASS\0-\0y.csv\0\0" + some)
    write("cut", "headers", b"-v\0x\0in\0\0#### ID:X\n# ID:X-2\n####ID:X\n## #ID:X\n"
          b"#  ID:X\tmore\nbody\r\n\nlast")
    write("cut", "help", b"-h\0\0")
    write("cut", "version", b"--version\0\0")


def option_seeds():
    vb = b"\0"
    ml = b"\1"
    lines = [
        (vb, ["-f", "examples/iris", "-k", "2:5:1", "-x", "5", "-u", "0-3", "-E", "4"]),
        (vb, ["-f", "d", "-k", "3", "-x", "8", "-u", "3,4#5~6", "-I", "0", "-y", "1-2", "-D",
              "--input", "csv", "-j", "TXT", "-s", "run1", "-S"]),
        (vb, ["-f", "d", "--n-class", "2-10-2", "--n-attr", "6", "--smooth-c", "auto",
              "--smooth-a", "0.5,auto", "--smooth-var", "const:2", "--tau", "0.0005",
              "--alpha", "3", "--input", "txt", "--score", "cs", "--init-c", "random"]),
        (vb, ["-f", "d", "-k", "2", "-x", "3", "-e", "-0.5", "-m", "10000", "-r", "42",
              "-n", "3", "-l", "5", "--noise", "0.2", "--noise-gauss", "0.3",
              "--extreme", "0.1", "-z", "0.2", "-B", ":1.5", "-b", "-o", "2", "-a", "3",
              "-G", "1", "--min-c-param", "0", "--min-new-c-param", "0.01",
              "--min-sm-imp", "1e-3", "--prec-out", "8", "--prec-msg", "4",
              "--weight-purity", "2", "--weight-wallance", "0.5", "-E", "2", "--input", "csv"]),
        (vb, ["-f", "d", "-H", "-x", "4", "-u", "~", "--verbose", "--uncompress",
              "--regular-stat", "--occ-order", "-V", "--hide-rank", "--show-attr-memp",
              "--show-attr-cluster", "-P", "--norm-jmerge", "--input", "csv"]),
        (ml, ["-f", "d", "-A", "-k", "2,4,1", "-x", "4", "-g", "AutoClass", "--init-a", "v_freq",
              "-J", "-R", "-H", "-c", "0", "-w", "0", "--input", "csv"]),
        (ml, ["-f", "d", "-x", "5", "-k", "2", "-y", "-", "--input", "csv"]),
        (vb, ["-v", "-q"]),
        (vb, ["-f", "d", "-k3"]),
        (vb, ["--helpall"]),
        (ml, ["-h"]),
    ]
    for i, (prog, words) in enumerate(lines):
        write("options", f"line{i}", prog + b"\0".join(w.encode() for w in words))

    items = [
        (8, 0, [(0, "5"), (0, "2:10:2"), (1, "1-2,5-"), (2, "3~5#0-1,7"), (3, "auto")]),
        (6, 3, [(4, "0.5,auto,2"), (5, "sample:0.5"), (6, "auto"), (7, "10"), (8, "0.5:1.5")]),
        (12, 1, [(9, "0.1"), (13, "4"), (14, "4294967295"), (15, "10000"), (2, "~"), (1, "-")]),
        (5, 4, [(16, ""), (10, "bic"), (11, "NOISY_U"), (12, "v_freq"), (3, "0"), (4, "0")]),
        (40, 2, [(2, "0-38"), (2, "1,2#2,3"), (7, "0.2"), (5, "const"), (6, "0")]),
    ]
    for i, (n_attr, roles, pairs) in enumerate(items):
        data = bytes([n_attr - 1, roles]) + b"\0".join(bytes([h]) + v.encode() for h, v in pairs)
        write("option_values", f"items{i}", data)


def conv_seeds():
    templates = [
        b"Illegal tau (%.Nf,class=%d) read from %s\n",
        b"%d,%.Ng,%s\n",
        b"a,b~,c~~d",
        b"#### ID:HPARAM-CLASS\n#### Class k, value\n",
        b"%-12.Ne and %+.Nf%%.N\n\nN.%\n",
        b"~\n",
        b"end~",
    ]
    for i, t in enumerate(templates):
        write("conv", f"t{i}", bytes([(i * 37) & 0xFF]) + t)


# Flag bits of fuzz_prep.cc: no header; delimiter (2 bits: detect, comma,
# tab, semicolon); class column 0; ID column 1; ignore column 2; column 0
# forced nominal.
PREP_NO_HEADER, PREP_COMMA, PREP_TAB, PREP_SEMICOLON = 1, 2, 4, 6
PREP_CLASS, PREP_ID, PREP_IGNORE, PREP_NOMINAL = 8, 16, 32, 64


def prep_seeds():
    tables = [
        (PREP_ID | PREP_IGNORE, example("customers.csv")),
        (PREP_CLASS, b"\xef\xbb\xbfcls;city;n\r\nyes;\"New York, NY\";3\r\nno;;NA\r\n\r\nyes;Boston;-2e1\r\n"),
        (PREP_NO_HEADER | PREP_TAB, b"1\t\"a\tb\"\t?\n2\t\"say \"\"hi\"\"\"\t3.5\n"),
        (PREP_SEMICOLON | PREP_NOMINAL, b"a;b;c\r1,5;x;\r2;\"two\r\nlines\";7\r"),
        (PREP_CLASS | PREP_ID, b"c,i,x\nyes,1,#a\nno,1,b\n"),
        (0, b"a,b\n1,\"open\n"),
        (PREP_COMMA, b" a b ,#c,,a_b\n1,2,,4\n6,7,,9\n"),
    ]
    for i, (flags, table) in enumerate(tables):
        write("prep", f"table{i}", bytes([flags]) + table)


# rumel's files by hand (no rumel yet): MAP with annealing, K = 2 of 2..3.
RUMEL_RUN = (
    b"#### ID:SETTING-VERSION\n####\n0.7\n#### ID:SETTING-FUNCTION\n####\nReading parameters,Disabled\n"
    b"Deterministic annealing EM,Enabled\n#### ID:SETTING-MODEL-BASE\n####\nNum of attributes,4\nID attribute,(none)\n"
    b"Answer class attribute,(none)\nIgnored attributes,3\nDiscrete attributes,0\nAttributes in Gauss0,1,2\n"
    b"#### ID:LOGLIKE-K2\n####\n2,0,-9,-1,-10,0.5\n2,1,-7,-1,-8,1\n#### ID:SCORE\n#### -- Selected criterion = AUTOCLASS\n"
    b"#### -- Optimal num. of classes = 2\n####\n2,-20.5,-18.25\n3,-22,N/A\n#### ID:SEED-K2\n####\n2,0,N/A,3,-7.5\n"
    b"#### ID:CLUSTER-FREQ-CASE\n####\n0,1\n1,1\n#### ID:CLUSTER-FREQ-CAT0\n####\n0,c,0,1\n"
    b"#### ID:CLUSTER-FREQ-GAUSS0\n####\n0,0,1\n\0"
    b"#### ID:PARAM-CLASS\n####\n0,0.625\n1,0.375\n#### ID:PARAM-CAT0\n####\n0,c,0,a,0.5\n0,c,0,b,0.5\n0,c,1,a,0.1\n"
    b"0,c,1,b,0.9\n#### ID:PARAM-GAUSS-MEAN0\n####\n0,0,1,h,1.5\n0,0,2,w,-2\n0,1,1,h,3\n0,1,2,w,4\n"
    b"#### ID:PARAM-GAUSS-COVAR0\n####\n0,0,1,1,h,h,4\n0,0,1,2,h,w,0.5\n0,0,2,2,w,w,0.25\n0,1,1,1,h,h,9\n"
    b"0,1,1,2,h,w,0\n0,1,2,2,w,w,1\n\0"
    b"#### ID:CLUSTER-CASE-BY-CASE\n####\n0,0,a,1,2,0.9\n1,1,b,?,3,0.8\n#### ID:CLUSTER-CASE-BY-CLUSTER\n####\n")


def report_seeds(rumelvb, work):
    """The files of small rumelvb runs, NUL-separated as fuzz_report reads them."""
    iris = example("iris_freq.csv").splitlines(keepends=True)
    runs = {
        "small": (example("iris_name.txt"), b"".join(iris[:40] + iris[59:80] + iris[109:130]),
                  ["-k", "2:3:1", "-x", "5", "-u", "0-3", "-E", "4", "-z", "3", "-n", "2", "-b", "0.5:1.5"]),
        "bc": (example("breast-cancer_name.txt"), head_lines(example("breast-cancer_freq.csv"), 30),
               ["-k", "2", "-x", "10", "-E", "9", "--uncompress", "-z", "3"]),
    }
    for prefix, (names, cases, args) in runs.items():
        with open(os.path.join(work, prefix + "_freq.csv"), "wb") as f:
            f.write(cases)
        with open(os.path.join(work, prefix + "_name.txt"), "wb") as f:
            f.write(names)
        run_rumelvb(rumelvb, work, prefix, args)
        parts = []
        for kind in ["log", "hparam", "cluster", "eval", "rank"]:
            with open(os.path.join(work, f"{prefix}_{kind}.csv"), "rb") as f:
                parts.append(f.read())
        write("report", prefix + "-vb", b"\0".join(parts))
        write("report", prefix + "-log-only", parts[0])
        write("report", prefix + "-log-model", parts[0] + b"\0" + parts[1])
    write("report", "rumel", RUMEL_RUN)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_seeds.py PATH/TO/rumelvb")
    rumelvb = os.path.abspath(sys.argv[1])
    if os.path.isdir(CORPUS):
        shutil.rmtree(CORPUS)
    with tempfile.TemporaryDirectory() as work:
        hparams = data_seeds(rumelvb, work)
        report_seeds(rumelvb, work)
    cut_seeds(hparams)
    option_seeds()
    conv_seeds()
    prep_seeds()


if __name__ == "__main__":
    main()
