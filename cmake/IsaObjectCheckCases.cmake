# Cases of the AVX object check (CheckIsaObjects.cmake): small files compiled
# here with -mavx2, each with the verdict the check must give and a text its
# message must name.
#   cmake -DCXX=<compiler> -DWORK=<scratch folder> -DREADELF=<readelf>
#         [-DCXXFILT=<c++filt>] -P IsaObjectCheckCases.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# name | expected (pass/fail) | text the output must contain | source
set(case_names)
macro(isa_case name expected text source)
  list(APPEND case_names ${name})
  set(case_${name}_expected ${expected})
  set(case_${name}_text "${text}")
  set(case_${name}_source "${source}")
endmacro()

isa_case(constant_table pass "1 AVX object"
  "using Fn = int (*)(int);
namespace case_avx2 {
int Double(int x) { return x * 2; }
constinit const Fn Table[] = {&Double};
const Fn *Entries() { return Table; }
}")
isa_case(static_vector fail "static_vector.o: static initialiser (.init_array"
  "#include <vector>
namespace case_avx2 {
std::vector<int> Sizes = {1, 2, 3};
}")
isa_case(table_filled_at_load fail "table_filled_at_load.o: static initialiser (.init_array"
  "using Fn = int (*)(int);
namespace case_avx2 {
int Double(int x) { return x * 2; }
Fn Pick() { return __builtin_cpu_supports(\"avx2\") ? &Double : nullptr; }
const Fn Table[] = {Pick()};
const Fn *Entries() { return Table; }
}")
isa_case(inline_from_shared_header fail "shared inline function Shared(int)"
  "inline int Shared(int x) { return x * 3; }
namespace case_avx2 {
extern int (*const Use)(int);
int (*const Use)(int) = &Shared;
}")
isa_case(template_in_isa_namespace pass "1 AVX object"
  "namespace case_avx2 {
template <class T> T Twice(T x) { return x + x; }
extern int (*const Use)(int);
int (*const Use)(int) = &Twice<int>;
}")

set(failures "")
foreach(name IN LISTS case_names)
  set(src ${WORK}/${name}.cpp)
  set(obj ${WORK}/${name}.o)
  file(WRITE ${src} "${case_${name}_source}\n")
  execute_process(COMMAND ${CXX} -std=c++20 -O2 -mavx2 -c ${src} -o ${obj}
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(APPEND failures "\n  ${name}: does not compile: ${err}")
    continue()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -DOBJECTS=${obj} -DREADELF=${READELF} -DCXXFILT=${CXXFILT}
                          -P ${CMAKE_CURRENT_LIST_DIR}/CheckIsaObjects.cmake
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(rc EQUAL 0)
    set(verdict pass)
  else()
    set(verdict fail)
  endif()
  string(FIND "${out}" "${case_${name}_text}" at)
  if(NOT verdict STREQUAL case_${name}_expected OR at EQUAL -1)
    string(APPEND failures "\n  ${name}: expected ${case_${name}_expected} naming \"${case_${name}_text}\", got ${verdict}:\n${out}")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "AVX object check cases:${failures}")
endif()
