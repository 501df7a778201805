#include "chinese_code.h"
