#include "classregistry.h"
