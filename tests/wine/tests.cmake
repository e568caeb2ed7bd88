# The Wine session shared by every Windows test of a run: a CTest fixture.
# A test that runs a Windows program declares  FIXTURES_REQUIRED wine  and
# runs it with  ${SFX_WINE_SESSION} run ${SFX_WINE_DIR} PROGRAM [ARGS...]
# (or reads ${SFX_WINE_DIR}/env). CTest starts the session before the first
# such test and stops it after the last one.
set(SFX_WINE_SESSION ${CMAKE_CURRENT_LIST_DIR}/session)
set(SFX_WINE_DIR ${CMAKE_BINARY_DIR}/wine)

add_test(NAME wine-session-start COMMAND ${SFX_WINE_SESSION} start ${SFX_WINE_DIR})
set_tests_properties(wine-session-start PROPERTIES
    FIXTURES_SETUP wine
    TIMEOUT 300            # the first start creates the prefix
    LABELS wine)

add_test(NAME wine-session-stop COMMAND ${SFX_WINE_SESSION} stop ${SFX_WINE_DIR})
set_tests_properties(wine-session-stop PROPERTIES
    FIXTURES_CLEANUP wine
    TIMEOUT 60
    LABELS wine)
