// The library lives in the subsystem folders beside this file (src/Makevars
// lists every object); R's package tools expect at least one source file
// directly in src/, and this is it. The entry points are in frame/, their
// registration in frame/init.cpp.
