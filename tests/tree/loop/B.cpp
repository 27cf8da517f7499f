#include "loop/B.h"

  #  include "loop/A.h"
