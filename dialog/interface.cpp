// 'INTF': the parameter dialog. Not built yet: the selector does nothing.
#include "host/handlers.h"

void Interface() {}
