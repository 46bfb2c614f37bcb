#include "data/read_param.h"

#include <utility>

#include "common/misc.h"
#include "data/model_file_reader.h"

namespace veska {

StoredParams read_param(const Settings& settings, AttrModel& model) {
  const ModelFileForm form{
      settings.files.param,
      "read_param",
      "Reading parameters from %s...",
      false,
      "Too many attribute parameter fields in %s\n",
      "Insufficiennt parameter specifications in %s (#data-matrices = %d)\n",
      "Unexpected number of fields for class probs",
      "Unexpected number of fields for discrete attribute probs",
      "Unexpected number of fields for means of continuous attributes",
      "Unexpected number of fields for covariances of continuous attributes",
      0.0,
      1.0,
      "Unexpected class parameter: %.*f (class=%d)\n",
      "Unexpected attribute parameter: %.*f (class=%d, attribute=%d)\n",
      "Incomplete parameters",
      "probability",
      true,
  };
  StoredHparams read = read_model_file(settings, model, form);
  StoredParams p;
  p.K = read.K;
  p.n_groups = read.n_groups;
  p.pi = std::move(read.delta);
  p.theta = std::move(read.delta_cat);
  p.mean = std::move(read.mean);
  p.covar = std::move(read.covar);
  msg_printf("done\n");
  return p;
}

}  // namespace veska
