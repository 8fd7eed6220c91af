# The network library's parsing path under libFuzzer (clang). The sources it
# tests are compiled into the target itself, instrumented.
set(HPSOCKET4C_DIR ${CMAKE_SOURCE_DIR}/libs/hpsocket4c)
add_executable(hpsocket4c_parser_fuzz
  ${CMAKE_CURRENT_SOURCE_DIR}/hpsocket4c_parser_fuzz.cc
  ${HPSOCKET4C_DIR}/src/request_parser.cc
  ${HPSOCKET4C_DIR}/src/response_builder.cc
  ${HPSOCKET4C_DIR}/src/url_fields.cc
  /usr/share/llhttp/api.c
  /usr/share/llhttp/http.c
  /usr/share/llhttp/llhttp.c)
target_include_directories(hpsocket4c_parser_fuzz PRIVATE
  ${HPSOCKET4C_DIR}/include ${HPSOCKET4C_DIR}/src)
target_include_directories(hpsocket4c_parser_fuzz SYSTEM PRIVATE /usr/share/include/llhttp)
target_compile_options(hpsocket4c_parser_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_options(hpsocket4c_parser_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
rez_warnings(hpsocket4c_parser_fuzz)
