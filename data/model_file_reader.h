// The reader behind both model files a run can read instead of estimating:
// rumelvb's hyperparameter file and rumel's parameter file. Both are data
// matrices taken by position (class numbers, one matrix per discrete
// attribute, per Gaussian block its means and covariances, and for the
// hyperparameters tau and one alpha matrix per block), checked row by row;
// the form gives the file, its words and its value range.
#pragma once

#include <string>

#include "common/attributes.h"
#include "common/settings.h"
#include "data/read_hparam.h"

namespace veska {

struct ModelFileForm {
  std::string path;
  const char* function;     // of the internal and allocation errors
  const char* progress;     // "Reading ... from %s..."
  bool priors;              // tau and alpha matrices follow the blocks
  const char* too_many;     // "Too many ... fields in %s\n"
  const char* insufficient; // "Insufficiennt ... (#data-matrices = %d)\n"
  const char* class_fields;
  const char* cat_fields;
  const char* mean_fields;
  const char* covar_fields;
  // Class and value numbers must lie in [low, high] (the number parser
  // takes no NaN).
  double low;
  double high;
  const char* class_range;  // "...: %.*f (class=%d)\n"
  const char* attr_range;   // "...: %.*f (class=%d, attribute=%d)\n"
  const char* incomplete;   // "Incomplete ..." before " in %s: no ..."
  const char* value_noun;   // what a class has for each value
  bool upper_only;          // covariance rows below the diagonal are ignored

  bool allows(double v) const { return v >= low && v <= high; }
};

// Reads form.path (fields split by the input extension's delimiter) as
// read_hparam describes, in the form's words: the class numbers into
// `delta`, the value numbers into `delta_cat`, the blocks into `mean` and
// `covar`, and tau and alpha only with `priors`. Prints the progress text
// but not its "done".
StoredHparams read_model_file(const Settings& settings, AttrModel& model,
                              const ModelFileForm& form);

}  // namespace veska
