#ifndef BX_ANALYSIS_DESIGNCHECKINPUT_H
#define BX_ANALYSIS_DESIGNCHECKINPUT_H

#include "analysis/designcheck/DesignCheckTypes.h"

class MainDTModel;

/// Takes out of the project what the design check compares the bus with.
namespace DesignCheckInput {

DesignedNetwork fromDesign(const MainDTModel& model);

} // namespace DesignCheckInput

#endif
