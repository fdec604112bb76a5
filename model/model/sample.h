#pragma once

#include "model/editor.h"

namespace model {

// The built-in sample workspace: an Excel workbook project with standard and class modules, a
// form with its designer open and document modules; a locked add-in project; references
// including a broken one and an 8.3 path with "~".
Editor sampleWorkspace();

}  // namespace model
