#include "data/model_file_reader.h"

#include <algorithm>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "common/init.h"
#include "common/misc.h"
#include "common/split.h"
#include "data/line_reader.h"

namespace veska {

namespace {

// Check IDs of the line errors, one per check site.
namespace hp_check {
constexpr int kLongLine = 240;
constexpr int kInnerBreak = 241;
constexpr int kClassFields = 247;
constexpr int kClassNumber = 250;
constexpr int kClassOrder = 253;
constexpr int kClassLimit = 255;
constexpr int kClassValue = 259;
constexpr int kCatFields = 285;
constexpr int kCatAttrFormat = 289;
constexpr int kCatAttr = 292;
constexpr int kCatClassFormat = 296;
constexpr int kCatClass = 302;
constexpr int kCatEmptyValue = 311;
constexpr int kCatValue = 346;
constexpr int kMeanFields = 377;
constexpr int kMeanGaussFormat = 380;
constexpr int kMeanClassFormat = 383;
constexpr int kMeanAttrFormat = 386;
constexpr int kMeanValue = 389;
constexpr int kMeanGauss = 391;
constexpr int kMeanClass = 392;
constexpr int kMeanAttr = 393;
constexpr int kCovarFields = 411;
constexpr int kCovarGaussFormat = 414;
constexpr int kCovarClassFormat = 417;
constexpr int kCovarAttr1Format = 420;
constexpr int kCovarAttr2Format = 423;
constexpr int kCovarValue = 426;
constexpr int kCovarGauss = 427;
constexpr int kCovarClass = 428;
constexpr int kCovarAttr1 = 429;
constexpr int kCovarAttr2 = 430;
constexpr int kTauFields = 447;
constexpr int kTauClassFormat = 450;
constexpr int kTauValue = 453;
constexpr int kTauClass = 454;
constexpr int kAlphaFields = 471;
constexpr int kAlphaGaussFormat = 474;
constexpr int kAlphaClassFormat = 477;
constexpr int kAlphaValue = 480;
constexpr int kAlphaGauss = 481;
constexpr int kAlphaClass = 482;
}  // namespace hp_check

constexpr const char* kBadInteger = "illegal format for an integer";
constexpr const char* kBadReal = "illegal format for an floating-point number";
constexpr const char* kBadGauss = "Unexpected Gauss ID";
constexpr const char* kBadClass = "Unexpected class number";
constexpr const char* kBadAttr = "Unexpected attribute ID";

constexpr int kMaxFields = 7;  // a covariance row

static_assert(kMaxStoredClasses == 10000, "the message below names the limit");
constexpr const char* kTooManyClasses = "Too many classes (more than 10000)";

enum class MatrixKind { kClass, kDiscrete, kMean, kCovar, kTau, kAlpha };

// A pseudo count of one value of a discrete attribute.
struct ValueEntry {
  int k = 0;
  int code = 0;
  double value = 0.0;
};

// A Gaussian value by its place in the dense layout of StoredHparams.
struct SlotEntry {
  size_t slot = 0;
  double value = 0.0;
};

// Sorts by slot and keeps, for each slot given more than once, the value
// given last: a later row overrides an earlier one.
template <typename Entry, typename Slot>
void keep_last(std::vector<Entry>& entries, Slot slot) {
  std::stable_sort(entries.begin(), entries.end(),
                   [&](const Entry& a, const Entry& b) { return slot(a) < slot(b); });
  size_t kept = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i + 1 < entries.size() && slot(entries[i + 1]) == slot(entries[i])) continue;
    entries[kept++] = entries[i];
  }
  entries.resize(kept);
}

class ModelFileReader {
 public:
  ModelFileReader(const Settings& settings, AttrModel& model, const ModelFileForm& form,
                  FilePtr file);
  StoredHparams read();

 private:
  int expected_matrices() const {
    if (n_groups_ == 0) return n_discrete_ + 1;
    return n_discrete_ + 2 * n_groups_ + 1 + (form_.priors ? n_groups_ + 1 : 0);
  }
  MatrixKind kind_of(int position) const;
  void start_matrix();
  void read_row();
  void class_row();
  void discrete_row(int i);
  void mean_row();
  void covar_row();
  void tau_row();
  void alpha_row();

  void split(int n_fields, int check_id, const char* message);
  int int_field(int f, int check_id);
  double real_field(int f, int check_id);
  void check_gauss(int g, int check_id);
  void check_class(int k, int check_id);
  // The place of attribute j in block g.
  int block_position(int j, int g, int check_id);
  size_t mean_slot(int k, int g, int p) const {
    return static_cast<size_t>(k) * mean_stride_ + mean_offset_[static_cast<size_t>(g)] + p;
  }
  size_t covar_slot(int k, int g, int p, int q) const {
    int d = model_.groups[static_cast<size_t>(g)].size();
    return static_cast<size_t>(k) * covar_stride_ + covar_offset_[static_cast<size_t>(g)] +
           static_cast<size_t>(p) * d + q;
  }
  [[noreturn]] void fail(int check_id, const char* message) {
    die_line(path_.c_str(), reader_.line_no(), check_id, reader_.text(), message, -1);
  }

  void build_classes(StoredHparams& h);
  void build_discrete(StoredHparams& h);
  void build_gauss(StoredHparams& h);
  void complete_value_summaries();

  const Settings& settings_;
  AttrModel& model_;
  const ModelFileForm& form_;
  const std::string& path_;
  LineReader reader_;
  bool txt_;
  int n_discrete_;
  int n_groups_;
  std::vector<char> listed_;  // per discrete attribute: values fixed by the names file

  FieldArray fields_;
  int position_ = 0;  // of the current data matrix, from 1
  bool in_header_ = false;
  bool seen_header_ = false;

  int n_classes_ = 0;  // class rows so far
  std::vector<double> delta_;
  // Per discrete attribute: its rows, and the class and value counter of
  // the current run of rows.
  std::vector<std::vector<ValueEntry>> values_;
  int prev_class_ = -1;
  int counter_ = 0;

  // Gaussian layout: per class the blocks' means (and covariances) one after
  // another.
  std::vector<size_t> mean_offset_, covar_offset_;
  size_t mean_stride_ = 0, covar_stride_ = 0;
  std::vector<SlotEntry> means_, covars_, alphas_;
  std::vector<double> tau_;
  std::vector<char> tau_given_;
};

ModelFileReader::ModelFileReader(const Settings& settings, AttrModel& model,
                                 const ModelFileForm& form, FilePtr file)
    : settings_(settings),
      model_(model),
      form_(form),
      path_(form.path),
      reader_(std::move(file), form.path, hp_check::kLongLine),
      txt_(settings.input_format == Format::kTxt),
      n_discrete_(model.n_discrete),
      n_groups_(model.n_groups) {
  if (static_cast<int>(model.attrs.size()) != model.n_attr ||
      static_cast<int>(model.groups.size()) != n_groups_) {
    die("Internal error: %s() -- attribute roles not resolved\n", form.function);
  }
  create_value_tables(model_);
  for (const DiscreteValues& v : model_.values) listed_.push_back(v.fixed ? 1 : 0);
  values_.resize(static_cast<size_t>(n_discrete_));
  for (const GaussGroup& g : model_.groups) {
    mean_offset_.push_back(mean_stride_);
    covar_offset_.push_back(covar_stride_);
    mean_stride_ += static_cast<size_t>(g.size());
    covar_stride_ += static_cast<size_t>(g.size()) * g.size();
  }
  fields_ = alloc_fields(kMaxFields);
}

MatrixKind ModelFileReader::kind_of(int position) const {
  if (position == 1) return MatrixKind::kClass;
  if (position <= n_discrete_ + 1) return MatrixKind::kDiscrete;
  int r = position - (n_discrete_ + 2);
  if (r < 2 * n_groups_) return r % 2 == 0 ? MatrixKind::kMean : MatrixKind::kCovar;
  return r == 2 * n_groups_ ? MatrixKind::kTau : MatrixKind::kAlpha;
}

void ModelFileReader::start_matrix() {
  ++position_;
  if (position_ > expected_matrices()) die(form_.too_many, path_.c_str());
  prev_class_ = -1;
  counter_ = 0;
  if (position_ == 2) {
    // The class rows are complete: K is known.
    tau_.assign(static_cast<size_t>(n_classes_), 0.0);
    tau_given_.assign(static_cast<size_t>(n_classes_), 0);
  }
}

void ModelFileReader::split(int n_fields, int check_id, const char* message) {
  const char* line = reader_.text();
  int n = txt_ ? split_txt(n_fields, line, fields_, nullptr) : split_csv(n_fields, line, fields_, nullptr);
  if (n != n_fields) fail(check_id, message);
}

int ModelFileReader::int_field(int f, int check_id) {
  int value = 0;
  if (!try_parse_int(fields_[f], &value)) fail(check_id, kBadInteger);
  return value;
}

double ModelFileReader::real_field(int f, int check_id) {
  double value = 0.0;
  if (!try_parse_real(fields_[f], &value)) fail(check_id, kBadReal);
  return value;
}

void ModelFileReader::check_gauss(int g, int check_id) {
  if (g < 0 || g >= n_groups_) fail(check_id, kBadGauss);
}

void ModelFileReader::check_class(int k, int check_id) {
  if (k < 0 || k >= n_classes_) fail(check_id, kBadClass);
}

int ModelFileReader::block_position(int j, int g, int check_id) {
  if (j < 0 || j >= model_.n_attr) fail(check_id, kBadAttr);
  const Attribute& a = model_.attrs[static_cast<size_t>(j)];
  if (a.role != AttrRole::kContinuous || a.group != g) fail(check_id, kBadAttr);
  return a.position;
}

void ModelFileReader::read_row() {
  if (long cut = reader_.inner_break(); cut >= 0) {
    die_line(path_.c_str(), reader_.line_no(), hp_check::kInnerBreak, reader_.quoted_text().c_str(),
             "Unexpected CR or NUL character inside the line", cut);
  }
  switch (kind_of(position_)) {
    case MatrixKind::kClass:
      return class_row();
    case MatrixKind::kDiscrete:
      return discrete_row(position_ - 2);
    case MatrixKind::kMean:
      return mean_row();
    case MatrixKind::kCovar:
      return covar_row();
    case MatrixKind::kTau:
      return tau_row();
    case MatrixKind::kAlpha:
      return alpha_row();
  }
}

void ModelFileReader::class_row() {
  split(2, hp_check::kClassFields, form_.class_fields);
  int k = int_field(0, hp_check::kClassNumber);
  if (k != n_classes_) fail(hp_check::kClassOrder, "Unexpected order of class numbers");
  if (n_classes_ == kMaxStoredClasses) fail(hp_check::kClassLimit, kTooManyClasses);
  delta_.push_back(real_field(1, hp_check::kClassValue));
  ++n_classes_;
}

void ModelFileReader::discrete_row(int i) {
  split(5, hp_check::kCatFields, form_.cat_fields);
  int j = int_field(0, hp_check::kCatAttrFormat);
  if (j < 0 || j >= model_.n_attr || model_.attrs[static_cast<size_t>(j)].role != AttrRole::kDiscrete ||
      model_.attrs[static_cast<size_t>(j)].position != i) {
    fail(hp_check::kCatAttr, kBadAttr);
  }
  int k = int_field(2, hp_check::kCatClassFormat);
  if (k < 0 || k >= n_classes_) {
    fail(hp_check::kCatClass, "Different number of classes exist in entries for P(c) and P(x1|c)\n");
  }
  std::string_view name = fields_.view(3);
  if (name.empty()) fail(hp_check::kCatEmptyValue, "Empty value");
  if (name.size() > kMaxValueName) name = name.substr(0, kMaxValueName);
  double value = real_field(4, hp_check::kCatValue);

  if (k != prev_class_) {
    prev_class_ = k;
    counter_ = 0;
  }
  StrTable& table = model_.values[static_cast<size_t>(i)].table;
  int code = strtab_lookup(table, name);
  if (listed_[static_cast<size_t>(i)] != 0) {
    if (code < 0) {
      die("[%s, Line %ld] Unknown attribute value -- %s\n", path_.c_str(), reader_.line_no(),
          std::string(name).c_str());
    }
  } else {
    // Every class lists the values in the same order: the n-th value of a
    // class must be the n-th value ever seen.
    if (code < 0) code = strtab_insert(table, name);
    if (code != counter_) {
      die("[%s, Line %ld] Found an inconsistent entry -- %s", path_.c_str(), reader_.line_no(),
          reader_.text());
    }
    ++counter_;
  }
  values_[static_cast<size_t>(i)].push_back(ValueEntry{k, code, value});
}

void ModelFileReader::mean_row() {
  split(5, hp_check::kMeanFields, form_.mean_fields);
  int g = int_field(0, hp_check::kMeanGaussFormat);
  int k = int_field(1, hp_check::kMeanClassFormat);
  int j = int_field(2, hp_check::kMeanAttrFormat);
  double value = real_field(4, hp_check::kMeanValue);
  check_gauss(g, hp_check::kMeanGauss);
  check_class(k, hp_check::kMeanClass);
  int p = block_position(j, g, hp_check::kMeanAttr);
  means_.push_back(SlotEntry{mean_slot(k, g, p), value});
}

void ModelFileReader::covar_row() {
  split(7, hp_check::kCovarFields, form_.covar_fields);
  int g = int_field(0, hp_check::kCovarGaussFormat);
  int k = int_field(1, hp_check::kCovarClassFormat);
  int j1 = int_field(2, hp_check::kCovarAttr1Format);
  int j2 = int_field(3, hp_check::kCovarAttr2Format);
  double value = real_field(6, hp_check::kCovarValue);
  check_gauss(g, hp_check::kCovarGauss);
  check_class(k, hp_check::kCovarClass);
  int p = block_position(j1, g, hp_check::kCovarAttr1);
  int q = block_position(j2, g, hp_check::kCovarAttr2);
  // The matrix is symmetric: either order of the pair names the same
  // element, unless the form keeps the upper triangle only.
  if (form_.upper_only && p > q) return;
  covars_.push_back(SlotEntry{covar_slot(k, g, std::min(p, q), std::max(p, q)), value});
}

void ModelFileReader::tau_row() {
  split(2, hp_check::kTauFields, "Unexpected # of fields for tau's in Normal Wishart distrib.");
  int k = int_field(0, hp_check::kTauClassFormat);
  double value = real_field(1, hp_check::kTauValue);
  check_class(k, hp_check::kTauClass);
  tau_[static_cast<size_t>(k)] = value;
  tau_given_[static_cast<size_t>(k)] = 1;
}

void ModelFileReader::alpha_row() {
  split(3, hp_check::kAlphaFields, "Unexpected # of fields for alpha's in Normal Wishart distrib.");
  int g = int_field(0, hp_check::kAlphaGaussFormat);
  int k = int_field(1, hp_check::kAlphaClassFormat);
  double value = real_field(2, hp_check::kAlphaValue);
  check_gauss(g, hp_check::kAlphaGauss);
  check_class(k, hp_check::kAlphaClass);
  alphas_.push_back(SlotEntry{static_cast<size_t>(k) * n_groups_ + g, value});
}

StoredHparams ModelFileReader::read() {
  while (reader_.next()) {
    if (reader_.text()[0] == '#') {
      in_header_ = true;
      seen_header_ = true;
      continue;
    }
    if (!seen_header_) continue;  // text before the first data matrix
    if (in_header_) {
      in_header_ = false;
      start_matrix();
    }
    read_row();
  }
  if (position_ < expected_matrices()) {
    die(form_.insufficient, path_.c_str(), position_);
  }
  StoredHparams h;
  h.K = n_classes_;
  h.n_groups = n_groups_;
  build_classes(h);
  build_discrete(h);
  build_gauss(h);
  complete_value_summaries();
  return h;
}

void ModelFileReader::build_classes(StoredHparams& h) {
  for (int k = 0; k < n_classes_; ++k) {
    double d = delta_[static_cast<size_t>(k)];
    if (!form_.allows(d)) die(form_.class_range, settings_.prec_msg, d, k);
  }
  h.delta = std::move(delta_);
}

void ModelFileReader::build_discrete(StoredHparams& h) {
  h.delta_cat.resize(static_cast<size_t>(n_discrete_));
  for (int i = 0; i < n_discrete_; ++i) {
    const DiscreteValues& dv = model_.values[static_cast<size_t>(i)];
    const int j = model_.discrete_attr[static_cast<size_t>(i)];
    const size_t n_values = static_cast<size_t>(strtab_count(dv.table));
    std::vector<ValueEntry>& rows = values_[static_cast<size_t>(i)];
    auto slot = [n_values](const ValueEntry& e) { return static_cast<size_t>(e.k) * n_values + e.code; };
    keep_last(rows, slot);
    for (const ValueEntry& e : rows) {
      if (!form_.allows(e.value)) {
        die(form_.attr_range, settings_.prec_msg, e.value, e.k, j);
      }
    }
    // Every class needs a pseudo count for every value.
    size_t next = 0;
    for (int k = 0; k < n_classes_; ++k) {
      for (size_t v = 0; v < n_values; ++v) {
        if (next < rows.size() && slot(rows[next]) == static_cast<size_t>(k) * n_values + v) {
          ++next;
          continue;
        }
        die("%s in %s: no %s of value %s of attribute %d in class %d\n", form_.incomplete,
            path_.c_str(), form_.value_noun, strtab_text(dv.table, static_cast<int>(v)).c_str(), j, k);
      }
    }
    std::vector<double>& counts = h.delta_cat[static_cast<size_t>(i)];
    counts.reserve(rows.size());
    for (const ValueEntry& e : rows) counts.push_back(e.value);
    rows = std::vector<ValueEntry>();
  }
}

void ModelFileReader::build_gauss(StoredHparams& h) {
  if (n_groups_ == 0) return;
  auto slot = [](const SlotEntry& e) { return e.slot; };
  keep_last(means_, slot);
  keep_last(covars_, slot);
  keep_last(alphas_, slot);
  size_t next_mean = 0, next_covar = 0, next_alpha = 0;
  for (int k = 0; k < n_classes_; ++k) {
    if (form_.priors && tau_given_[static_cast<size_t>(k)] == 0) {
      die("%s in %s: no tau of class %d\n", form_.incomplete, path_.c_str(), k);
    }
    for (int g = 0; g < n_groups_; ++g) {
      const std::vector<int>& attrs = model_.groups[static_cast<size_t>(g)].attrs;
      const int d = static_cast<int>(attrs.size());
      std::vector<double> mean(static_cast<size_t>(d));
      std::vector<double> covar(static_cast<size_t>(d) * d);
      for (int p = 0; p < d; ++p) {
        if (next_mean == means_.size() || means_[next_mean].slot != mean_slot(k, g, p)) {
          die("%s in %s: no mean of attribute %d in class %d\n", form_.incomplete, path_.c_str(),
              attrs[static_cast<size_t>(p)], k);
        }
        mean[static_cast<size_t>(p)] = means_[next_mean++].value;
      }
      for (int p = 0; p < d; ++p) {
        for (int q = p; q < d; ++q) {
          if (next_covar == covars_.size() || covars_[next_covar].slot != covar_slot(k, g, p, q)) {
            die("%s in %s: no covariance of attributes %d and %d in class %d\n", form_.incomplete,
                path_.c_str(), attrs[static_cast<size_t>(p)], attrs[static_cast<size_t>(q)], k);
          }
          // Upper triangle as read, mirrored into the lower one.
          double value = covars_[next_covar++].value;
          covar[static_cast<size_t>(p) * d + q] = value;
          covar[static_cast<size_t>(q) * d + p] = value;
        }
      }
      if (form_.priors) {
        if (next_alpha == alphas_.size() ||
            alphas_[next_alpha].slot != static_cast<size_t>(k) * n_groups_ + g) {
          die("%s in %s: no alpha of Gauss block %d in class %d\n", form_.incomplete, path_.c_str(),
              g, k);
        }
        h.alpha.push_back(alphas_[next_alpha++].value);
      }
      h.mean.push_back(std::move(mean));
      h.covar.push_back(std::move(covar));
    }
  }
  h.tau = std::move(tau_);
}

void ModelFileReader::complete_value_summaries() {
  for (DiscreteValues& dv : model_.values) {
    dv.n_values = strtab_count(dv.table);
    dv.names.clear();
    for (const std::string* text : strtab_texts(dv.table)) dv.names.push_back(*text);
    dv.order.resize(static_cast<size_t>(dv.n_values));
    for (int v = 0; v < dv.n_values; ++v) dv.order[static_cast<size_t>(v)] = v;
    if (settings_.lex_order) {
      std::sort(dv.order.begin(), dv.order.end(), [&dv](int a, int b) {
        return dv.names[static_cast<size_t>(a)] < dv.names[static_cast<size_t>(b)];
      });
    }
    // The model knows these values only: the cases may use no other.
    dv.fixed = true;
  }
}

}  // namespace

StoredHparams read_model_file(const Settings& settings, AttrModel& model,
                              const ModelFileForm& form) {
  msg_printf(form.progress, form.path.c_str());
  FilePtr file = open_for_reading(form.path);
  if (!file) die("Couldn't open %s\n", form.path.c_str());
  StoredHparams h;
  try {
    ModelFileReader reader(settings, model, form, std::move(file));
    h = reader.read();
  } catch (const std::bad_alloc&) {
    die_stderr("Couldn't allocate memory (%s, line %d)\n", form.function, __LINE__);
  }
  return h;
}

}  // namespace veska
