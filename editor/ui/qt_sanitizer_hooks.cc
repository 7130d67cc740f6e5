// Sanitizer settings of the window tests. Qt's own worker threads (its thread pool, used by
// the GUI library) synchronise inside Qt's libraries, which are not built with the thread
// sanitizer; it cannot see that synchronisation and reports races between Qt's own frames.
// Only reports whose stacks pass through Qt's libraries are suppressed; races in our code
// are still reported.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libQt6Core.so\n"
         "race:libQt6Gui.so\n"
         "race:libQt6Widgets.so\n"
         "race:libQt6Test.so\n";
}
