// 'SETM': motion path capture. Not built yet: the selector does nothing.
#include "host/handlers.h"

void ModelSetup() {}
