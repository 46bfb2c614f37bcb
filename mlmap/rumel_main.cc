#include "mlmap/run.h"

int main(int argc, char** argv) { return veska::run_rumel(argc, argv); }
