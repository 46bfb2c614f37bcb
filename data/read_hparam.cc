#include "data/read_hparam.h"

#include <limits>

#include "common/misc.h"
#include "data/model_file_reader.h"

namespace veska {

StoredHparams read_hparam(const Settings& settings, AttrModel& model) {
  const ModelFileForm form{
      settings.files.hparam,
      "read_hparam",
      "Reading hyperparameters from %s...",
      true,
      "Too many attribute hyperparameter fields in %s\n",
      "Insufficiennt hyperparameter specifications in %s (#data-matrices = %d)\n",
      "Unexpected # of fields for class probs",
      "Unexpected # of fields for discrete attribute probs",
      "Unexpected # of fields for means of continuous attributes",
      "Unexpected # of fields for covariances of continuous attributes",
      -1.0,
      std::numeric_limits<double>::infinity(),
      "Illegal class hyperparameter: %.*f (class=%d)\n",
      "Illegal attribute hyperparameter: %.*f (class=%d, attribute=%d)\n",
      "Incomplete hyperparameters",
      "pseudo count",
      false,
  };
  StoredHparams h = read_model_file(settings, model, form);
  msg_printf("done\n");
  return h;
}

}  // namespace veska
