#include "tarnpostpropertypage.h"
