# The usual Debian hardening of optimised builds (what dpkg-buildflags gives with
# hardening=+all): fortified C library calls, strong stack protector, format checks, and
# relocations read-only and bound at start-up. Position-independent executables are the
# compiler's default here. The sanitizer and fuzzing builds (Debug) are left as they are:
# the fortified calls would hide from the sanitizers what they look for.
set(hbt_optimised "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
add_compile_options(
  "$<${hbt_optimised}:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2;-fstack-protector-strong;-Wformat;-Werror=format-security>")
add_link_options("$<${hbt_optimised}:LINKER:-z,relro;LINKER:-z,now>")
