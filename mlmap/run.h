// The run sequence of rumel, from the command line to the exit status.
#pragma once

namespace veska {

int run_rumel(int argc, char** argv);

}  // namespace veska
