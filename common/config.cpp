// Configuration defaults (the reader arrives with the configuration file).
#include "common/config.h"

Config gConfig = {1, 1, 1, "C:\\QUELTAN\\QUELTAN.LOG", 100};
