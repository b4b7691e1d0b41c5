# Windows end to end: the Windows vestrel-host loads the plug-in under wine and
# plays the example scenes (dialog included), so that the real GetProcAddress
# lookup of the host functions and the Windows record layout are exercised.
#   64-bit  Vestrel_64.plm under wine64 (wine.sh)
#   32-bit  Vestrel.plm under 32-bit wine, which runs on qemu-i386 in a user
#           namespace of its own (wine32.sh, i386ns.sh): the build machine's
#           kernel runs no 32-bit programs. Wine's i386 packages are unpacked
#           into a private root in this build folder (i386_root.sh); nothing
#           is installed into the system.
# One wineserver serves every wine test: the fixture "wine" starts it first
# and stops it last. The wine prefix lives in this build folder, and is kept
# from one run to the next.
if(NOT TARGET vestrel-host)
  vestrel_skipped_test(wine.scenes "vestrel-host is not built in this configuration (VESTREL_BUILD_REFERENCE_HOST)")
  return()
endif()

set(VESTREL_NATIVE_HOST "" CACHE FILEPATH
    "vestrel-host of a native build; each scene played under wine must match its run of the scene")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(wine_script ${CMAKE_CURRENT_SOURCE_DIR}/wine.sh)
  set(wine_environment
    "WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix"
    "WINEDEBUG=-all"
    "WINEDLLOVERRIDES=mscoree,mshtml="
    "VESTREL_WINE64=${VESTREL_WINE64}"
    "VESTREL_WINESERVER=${VESTREL_WINESERVER}")
else()
  set(wine_script ${CMAKE_CURRENT_SOURCE_DIR}/wine32.sh)
  set(wine32_folder ${CMAKE_BINARY_DIR}/wine32)
  set(wine_environment
    "VESTREL_I386_ROOT=${wine32_folder}/root"
    "WINEPREFIX=${wine32_folder}/prefix"
    "WINEDEBUG=-all"
    "VESTREL_WINESERVER=${VESTREL_WINESERVER}")
  # The private root is made once (about 100 MB fetched) and kept until the
  # system's wine changes version.
  add_test(NAME wine.i386_root COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/i386_root.sh ${wine32_folder})
  set_tests_properties(wine.i386_root PROPERTIES
    FIXTURES_SETUP wine_i386_root SKIP_RETURN_CODE 77 LABELS "platforms;wine" TIMEOUT 900)
endif()

add_test(NAME wine.start COMMAND sh ${wine_script} start)
add_test(NAME wine.stop COMMAND sh ${wine_script} stop)
set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)
set_tests_properties(wine.start wine.stop PROPERTIES
  ENVIRONMENT "${wine_environment}" SKIP_RETURN_CODE 77 LABELS "platforms;wine")
if(TEST wine.i386_root)
  # Under emulation the start-up is retried, each try under a time limit.
  set_tests_properties(wine.start wine.stop PROPERTIES FIXTURES_REQUIRED wine_i386_root)
  set_tests_properties(wine.start PROPERTIES TIMEOUT 900)
endif()

# Each run is compared with the native host's run of the same scene: the
# reports always, the OBJ file and the parameter block bit for bit where the
# host computes the positions exactly. Circles and helices come from the C
# library's sine and cosine, whose last bits differ between glibc and the
# Windows runtime, so there only the reports are compared.
# name | scene | what is compared (bits or report) | further play options
file(GLOB example_scenes CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/examples/*.json)
set(scene_runs)
foreach(scene IN LISTS example_scenes)
  get_filename_component(name ${scene} NAME_WE)
  file(READ ${scene} scene_text)
  if(scene_text MATCHES "\"type\": *\"(helix|circle)\"")
    list(APPEND scene_runs "${name}|${scene}|report|")
  else()
    list(APPEND scene_runs "${name}|${scene}|bits|")
  endif()
endforeach()
list(APPEND scene_runs
  "dialog_cancelled|${PROJECT_SOURCE_DIR}/examples/dialog.json|bits|--refuse-function Orvo_ExecuteDialog"
  "dialog_without_resource_file|${PROJECT_SOURCE_DIR}/examples/dialog.json|bits|--refuse-function Orvo_OpenResourceFile"
  "position_refused|${PROJECT_SOURCE_DIR}/examples/square.json|bits|--refuse TOBJ:-1"
  "first_allocation_refused|${PROJECT_SOURCE_DIR}/examples/square.json|bits|--refuse-call 2")

foreach(row IN LISTS scene_runs)
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 name)
  list(GET fields 1 scene)
  list(GET fields 2 compare)
  list(GET fields 3 option_text)
  separate_arguments(options UNIX_COMMAND "${option_text}")
  add_test(NAME wine.scene.${name}
           COMMAND ${CMAKE_COMMAND}
                   -DWINE_SCRIPT=${wine_script} -DHOST=$<TARGET_FILE:vestrel-host>
                   -DNATIVE_HOST=${VESTREL_NATIVE_HOST} -DSCENE=${scene} -DCOMPARE=${compare}
                   -DOUT=${CMAKE_CURRENT_BINARY_DIR}/wine-scenes/${name}
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/run_wine_scene.cmake -- ${options})
  set_tests_properties(wine.scene.${name} PROPERTIES
    ENVIRONMENT "${wine_environment}" FIXTURES_REQUIRED wine
    SKIP_REGULAR_EXPRESSION "SKIPPED:" LABELS "platforms;wine")
endforeach()

# The validator's battery against the plug-in under wine: every check in
# one process (Windows has no fork), hidden host functions refusing service
# instead (GetProcAddress cannot be kept from finding them), canary bands
# around host memory. Paths are relative to the build folder, where both
# programs and the resource file are.
set(validate_run sh ${wine_script} run $<TARGET_FILE:vestrel-host> validate $<TARGET_FILE_NAME:Vestrel>
                 --time-limit 5 --failures-only)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # A 32-bit program under wine on qemu-i386 gets about 120 MB of memory here
  # (not the 2 GB of 32-bit Windows), and the validator's two 1 MiB block
  # checks need 50 to 70 MB at their peak, depending on the random content of
  # the block: with some seeds the run ends in std::bad_alloc. This run takes
  # a seed whose checks fit (see docs/platforms.md); the 64-bit run under
  # wine64 and the Linux runs keep drawing fresh ones.
  list(APPEND validate_run --seed 12345)
endif()
add_test(NAME wine.validate COMMAND ${validate_run} WORKING_DIRECTORY $<TARGET_FILE_DIR:Vestrel>)
set_tests_properties(wine.validate PROPERTIES
  ENVIRONMENT "${wine_environment}" FIXTURES_REQUIRED wine
  SKIP_RETURN_CODE 77 LABELS "platforms;wine" TIMEOUT 600)
