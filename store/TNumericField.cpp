#include "store/TNumericField.h"
