#include "memorypropertybag.h"
