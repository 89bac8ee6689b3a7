# Writes the source file that holds the build date and time, at every build:
# the only file an unchanged tree compiles again.
string(TIMESTAMP stamp "%Y-%m-%d %H:%M:%S")
file(WRITE "${OUT}.new" "#include \"framework/build_stamp.h\"\n\nconst char* RuvexBuildStamp() { return \"${stamp}\"; }\n")
file(RENAME "${OUT}.new" "${OUT}")
