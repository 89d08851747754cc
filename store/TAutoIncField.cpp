#include "store/TAutoIncField.h"
