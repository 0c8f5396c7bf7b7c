#include "controlhost.h"
