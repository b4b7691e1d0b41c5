// The handlers of the five selectors that the host sends to the entry. Each
// takes its input from theInfo, talks to the host through HostCall and reports
// through theError; none takes arguments or returns anything.
#ifndef VESTREL_HOST_HANDLERS_H
#define VESTREL_HOST_HANDLERS_H

void Information();    // 'INFO': host/entry.cpp
void Initialize();     // 'INIT': host/entry.cpp
void Interface();      // 'INTF': dialog/interface.cpp
void ModelSetup();     // 'SETM': geometry/model_setup.cpp
void ModelGenerate();  // 'GENM': generate/model_generate.cpp

#endif
