// The run of rumelvb, from the option defaults to exit status 0. Every
// failure on the way ends the process with status 1 through the fatal paths
// of common/misc.h.
#pragma once

namespace veska {

int run_rumelvb(int argc, char** argv);

}  // namespace veska
