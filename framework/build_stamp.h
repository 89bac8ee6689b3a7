#pragma once
// Date and time of the build ("YYYY-MM-DD HH:MM:SS"), from a source file the
// build writes anew every time, so that nothing else recompiles for it.
const char* RuvexBuildStamp();
