# The stub's sources, in two lists so that Windows unit tests can link the
# program's code with a normal C runtime:
#   SFX_PROGRAM_SOURCES  everything but the entry point and runtime support
#   SFX_STUB_ONLY        the entry point, the no-CRT runtime, the resources
set(SFX_PROGRAM_SOURCES
    ${SFX_ROOT}/startup/SFXstate.cpp
    ${SFX_ROOT}/startup/SFXsett.cpp
    ${SFX_ROOT}/startup/SFXdlls.cpp
    ${SFX_ROOT}/startup/SFXlaunch.cpp
    ${SFX_ROOT}/startup/SFXcmd.cpp
    ${SFX_ROOT}/startup/SFXlog.cpp
    ${SFX_ROOT}/extract/SFXarch.cpp
    ${SFX_ROOT}/extract/SFXhdr.cpp
    ${SFX_ROOT}/extract/SFXentry.cpp
    ${SFX_ROOT}/extract/SFXtemp.cpp
    ${SFX_ROOT}/extract/SFXrun.cpp
    ${SFX_ROOT}/extract/SFXlist.cpp
    ${SFX_ROOT}/extract/SFXpath.cpp
    ${SFX_ROOT}/extract/SFXname.cpp
    ${SFX_ROOT}/extract/SFXprof.cpp
    ${SFX_ROOT}/extract/SFXprog.cpp
    ${SFX_ROOT}/ui/SFXwin.cpp
    ${SFX_ROOT}/ui/SFXmdlg.cpp
    ${SFX_ROOT}/ui/SFXsel.cpp
    ${SFX_ROOT}/ui/SFXnew.cpp
    ${SFX_ROOT}/ui/SFXovr.cpp
    ${SFX_ROOT}/ui/SFXpwd.cpp)
file(GLOB SFX_DECODE_SOURCES CONFIGURE_DEPENDS ${SFX_ROOT}/decode/*.cpp)
list(APPEND SFX_PROGRAM_SOURCES ${SFX_DECODE_SOURCES})
set(SFX_STUB_ONLY
    ${SFX_ROOT}/startup/SFXmain.cpp
    ${SFX_ROOT}/startup/SFXrt.cpp
    ${SFX_ROOT}/ui/SFXres.rc)
