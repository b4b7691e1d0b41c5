# The writer and reader of parameter blocks (byte_order_blocks_test.cpp), and
# the CTest fixtures that pair the writer of one byte order with the reader of
# the other.
add_executable(vestrel_byte_order_blocks
  byte_order_blocks_test.cpp)
target_link_libraries(vestrel_byte_order_blocks PRIVATE
  vestrel_core vestrel_test_support GTest::gtest GTest::gtest_main ${CMAKE_DL_LIBS})
target_link_libraries(vestrel_byte_order_blocks PRIVATE vestrel_warnings vestrel_exact_arithmetic)
set_target_properties(vestrel_byte_order_blocks PROPERTIES ENABLE_EXPORTS ON)

if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  vestrel_skipped_test(byte_order.blocks "no emulator for ${CMAKE_SYSTEM_PROCESSOR}: the block tests are built, not run")
  return()
endif()

set(block_root ${CMAKE_CURRENT_BINARY_DIR}/blocks)
if(CMAKE_CXX_BYTE_ORDER STREQUAL "BIG_ENDIAN")
  set(this_order big-endian)
  set(other_order little-endian)
else()
  set(this_order little-endian)
  set(other_order big-endian)
endif()

# Writes the blocks of one program into folder; sets up fixture.
function(vestrel_block_writer name fixture folder)
  add_test(NAME ${name} COMMAND ${ARGN} --gtest_filter=WriteBlocks.*)
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "VESTREL_BLOCK_DIR=${folder}"
    FIXTURES_SETUP ${fixture} LABELS platforms)
endfunction()

# Reads the blocks in folder, which must be of the given origin.
function(vestrel_block_reader name fixture folder origin)
  add_test(NAME ${name} COMMAND ${ARGN} --gtest_filter=ReadBlocks.*)
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "VESTREL_BLOCK_DIR=${folder};VESTREL_BLOCK_ORIGIN=${origin}"
    FIXTURES_REQUIRED ${fixture} LABELS platforms)
endfunction()

# Same byte order: the reader keeps the blocks as they are.
vestrel_block_writer(byte_order.write_${this_order} blocks_${this_order}
  ${block_root}/${this_order} vestrel_byte_order_blocks)
vestrel_block_reader(byte_order.read_${this_order}_on_${this_order} blocks_${this_order}
  ${block_root}/${this_order} native vestrel_byte_order_blocks)

# The other byte order, with the program of a build of that order.
set(VESTREL_BYTE_ORDER_PEER "" CACHE FILEPATH
    "vestrel_byte_order_blocks of a build of the other byte order, to exchange parameter blocks with")
if(VESTREL_BYTE_ORDER_PEER)
  set(peer ${CMAKE_COMMAND} -DPROGRAM=${VESTREL_BYTE_ORDER_PEER} -P ${CMAKE_CURRENT_SOURCE_DIR}/run_peer.cmake --)
  vestrel_block_writer(byte_order.write_${other_order} blocks_${other_order}
    ${block_root}/${other_order} ${peer})
  vestrel_block_reader(byte_order.read_${this_order}_on_${other_order} blocks_${this_order}
    ${block_root}/${this_order} foreign ${peer})
  vestrel_block_reader(byte_order.read_${other_order}_on_${this_order} blocks_${other_order}
    ${block_root}/${other_order} foreign vestrel_byte_order_blocks)
  set_tests_properties(byte_order.write_${other_order} byte_order.read_${this_order}_on_${other_order}
    PROPERTIES SKIP_REGULAR_EXPRESSION "SKIPPED:")
elseif(CMAKE_CXX_BYTE_ORDER STREQUAL "BIG_ENDIAN")
  vestrel_skipped_test(byte_order.cross "VESTREL_BYTE_ORDER_PEER not set: no little-endian program to exchange blocks with")
endif()
