# The script of vestrel-host's 3-D page (--html): reference_host/html/viewer.js
# and three.js, bundled by esbuild into one script at build time and compiled
# into vestrel-host, so that every page it writes opens from disk with no
# network. The npm packages (pinned in reference_host/html/package-lock.json)
# are installed once into a cache folder and installed again only when the
# lock file changes. Without Node.js, npm or the packages, vestrel-host is
# built without the page and --html says so.
#
# Sets VESTREL_PAGE_MODULES (the node_modules folder, for the browser tests)
# and defines the target vestrel_host_page_script where the page is built;
# else VESTREL_PAGE_MISSING says why.

option(VESTREL_HTML_PAGE "Build vestrel-host's 3-D page (--html): needs Node.js and npm" ON)
option(VESTREL_BROWSER_TESTS "Check the 3-D page in headless Chromium (needs Debian's chromium)" ON)
if(DEFINED ENV{XDG_CACHE_HOME})
  set(vestrel_page_cache $ENV{XDG_CACHE_HOME})
else()
  set(vestrel_page_cache $ENV{HOME}/.cache)
endif()
set(VESTREL_PAGE_PACKAGES ${vestrel_page_cache}/vestrel/html-page
    CACHE PATH "Folder of the npm packages of the 3-D page (three, esbuild, puppeteer-core)")
set(vestrel_page_source ${PROJECT_SOURCE_DIR}/reference_host/html)
set(VESTREL_PAGE_MODULES ${VESTREL_PAGE_PACKAGES}/node_modules)

# npm ci into a fresh folder beside the cache, renamed into place when done,
# so that builds of other configurations never see half an install.
function(vestrel_install_page_packages)
  set(lock ${vestrel_page_source}/package-lock.json)
  set(have ${VESTREL_PAGE_PACKAGES}/package-lock.json)
  if(EXISTS ${have} AND EXISTS ${VESTREL_PAGE_MODULES}/three/package.json)
    file(SHA256 ${lock} wanted)
    file(SHA256 ${have} installed)
    if(wanted STREQUAL installed)
      return()
    endif()
  endif()
  find_program(VESTREL_NPM npm)
  if(NOT VESTREL_NPM)
    return()
  endif()
  message(STATUS "Installing the 3-D page's npm packages into ${VESTREL_PAGE_PACKAGES}")
  string(RANDOM LENGTH 10 suffix)
  set(staging ${VESTREL_PAGE_PACKAGES}.new-${suffix})
  file(MAKE_DIRECTORY ${staging})
  file(COPY ${vestrel_page_source}/package.json ${lock} DESTINATION ${staging})
  execute_process(
    COMMAND ${VESTREL_NPM} ci --no-audit --no-fund --loglevel=error
    WORKING_DIRECTORY ${staging}
    RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE errors TIMEOUT 600)
  if(status EQUAL 0)
    file(REMOVE_RECURSE ${VESTREL_PAGE_PACKAGES})
    file(RENAME ${staging} ${VESTREL_PAGE_PACKAGES})
  else()
    message(STATUS "npm ci of the 3-D page's packages failed (${status}): ${errors}")
    file(REMOVE_RECURSE ${staging})
  endif()
endfunction()

set(VESTREL_PAGE_MISSING "")
find_program(VESTREL_NODE NAMES node nodejs)
if(NOT VESTREL_HTML_PAGE)
  set(VESTREL_PAGE_MISSING "it was turned off (VESTREL_HTML_PAGE=OFF)")
elseif(CMAKE_CROSSCOMPILING)
  set(VESTREL_PAGE_MISSING "cross builds leave it out")
elseif(NOT VESTREL_NODE)
  set(VESTREL_PAGE_MISSING "Node.js was not found at build time")
else()
  vestrel_install_page_packages()
  if(NOT EXISTS ${VESTREL_PAGE_MODULES}/three/package.json OR
     NOT EXISTS ${VESTREL_PAGE_MODULES}/esbuild/package.json)
    set(VESTREL_PAGE_MISSING
        "npm's three and esbuild were not found at build time (in ${VESTREL_PAGE_MODULES})")
  endif()
endif()

if(VESTREL_PAGE_MISSING STREQUAL "")
  set(script ${CMAKE_CURRENT_BINARY_DIR}/page_script.cpp)
  add_custom_command(
    OUTPUT ${script}
    COMMAND ${VESTREL_NODE} ${vestrel_page_source}/make_page_script.mjs ${VESTREL_PAGE_MODULES}
            ${vestrel_page_source}/viewer.js ${script}
    DEPENDS ${vestrel_page_source}/make_page_script.mjs ${vestrel_page_source}/viewer.js
            ${vestrel_page_source}/package-lock.json ${VESTREL_PAGE_PACKAGES}/package-lock.json
    COMMENT "Bundling the 3-D page's script with three.js (esbuild)"
    VERBATIM)
  add_library(vestrel_host_page_script STATIC ${script})
else()
  message(STATUS "vestrel-host is built without the 3-D page (--html): ${VESTREL_PAGE_MISSING}")
endif()
