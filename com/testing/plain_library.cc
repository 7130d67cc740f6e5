// A library with none of the exports of an in-process server.
extern "C" int hbt_plain_library_answer() { return 42; }
