#include "model/sample.h"

namespace model {

Editor sampleWorkspace() {
  return EditorBuilder()
      .host("Microsoft Excel")
      .project("VBAProject", "Budget.xlsm")
      .component("ThisWorkbook", 100)
      .component("Sheet1", 100)
      .component("Module1", 1)
      .component("Ledger", 2)
      .component("EntryForm", 3, true)
      .reference("VBA", "Visual Basic For Applications",
                 "C:\\PROGRA~1\\COMMON~1\\MICROS~1\\VBA\\VBA7.1\\VBE7.DLL", true)
      .reference("Excel", "Microsoft Excel 16.0 Object Library",
                 "C:\\Program Files\\Microsoft Office\\root\\Office16\\EXCEL.EXE", true)
      .reference("", "", "C:\\Tools\\Legacy\\OldCharts.ocx", false, true, {"Name"})
      .reference("Scripting", "Microsoft Scripting Runtime", "C:\\Windows\\System32\\scrrun.dll")
      .project("LockedTools", "LockedTools.xlam", 1)
      .component("ThisWorkbook", 100)
      .component("Internals", 1)
      .reference("VBA", "Visual Basic For Applications",
                 "C:\\PROGRA~1\\COMMON~1\\MICROS~1\\VBA\\VBA7.1\\VBE7.DLL", true)
      .active("VBAProject")
      .build();
}

}  // namespace model
