// Creates the add-in by its program id, as the editor's add-in manager does, and reads a property
// through IDispatch: the class, its file and its type library all work.
try {
  var addin = new ActiveXObject("VBATessary.Connect");
  WScript.Echo("created; FormDisplayed=" + addin.FormDisplayed);
} catch (e) {
  WScript.Echo("not created: " + e.description + " (" + (e.number >>> 0).toString(16) + ")");
  WScript.Quit(1);
}
