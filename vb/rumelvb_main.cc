#include "vb/run.h"

int main(int argc, char** argv) { return veska::run_rumelvb(argc, argv); }
