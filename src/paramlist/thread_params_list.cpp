#include "paramlist/thread_params_list.h"

namespace kiv {

TkivThreadParamsList::~TkivThreadParamsList() {
  WriteLocked<TkivParamsList> guard(*this);
  list_.reset();
}

}  // namespace kiv
