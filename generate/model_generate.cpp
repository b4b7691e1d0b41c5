// 'GENM': line generation. Not built yet: the selector does nothing.
#include "host/handlers.h"

void ModelGenerate() {}
