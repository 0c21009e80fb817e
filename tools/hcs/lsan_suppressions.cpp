// Linked into hcs in the AddressSanitizer build only. Xalan-C's start-up statics live until the process
// ends: the plugin stays loaded (-z nodelete) and never stops the XML libraries, as a host's process
// shows at exit. They are not ours to free.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libxalan-c.so\n";
}
