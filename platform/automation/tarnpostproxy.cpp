#include "tarnpostproxy.h"
