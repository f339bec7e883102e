# Objects compiled for AVX or AVX2 are entered only after a run-time check of
# the processor, so they must not hold code that runs without being asked:
#  - no static initialisers (.init_array, .ctors): those run when the program
#    or library is loaded, before any check;
#  - no weak (COMDAT) functions outside an instruction-set namespace: inline
#    functions and templates that another file emits under the same name are
#    merged by the linker, which may keep the AVX copy for every caller.
# tessivo_check_isa_objects() finds those objects from the source properties
# of every target (so a new AVX file is covered without being listed), checks
# them after each build and registers the same check with CTest.

# Options that let the compiler use AVX instructions in a whole file.
set(TESSIVO_ISA_OPTION_REGEX "(^|[; ])-m(avx[0-9a-z]*|fma|f16c|bmi2?)($|[; =])|(^|[; ])-march=")

function(_tessivo_isa_targets_in dir out)
  set(found)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t IN LISTS targets)
    get_target_property(type ${t} TYPE)
    if(type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$")
      list(APPEND found "${dir}|${t}")
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    _tessivo_isa_targets_in(${sub} more)
    list(APPEND found ${more})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

function(tessivo_check_isa_objects)
  _tessivo_isa_targets_in(${CMAKE_SOURCE_DIR} entries)
  set(objects)  # generator expressions, one per AVX source
  set(names)
  set(owners)
  foreach(entry IN LISTS entries)
    string(REPLACE "|" ";" parts "${entry}")
    list(GET parts 0 dir)
    list(GET parts 1 t)
    get_target_property(sources ${t} SOURCES)
    get_target_property(target_options ${t} COMPILE_OPTIONS)
    foreach(s IN LISTS sources)
      if(s MATCHES "^\\$<" OR NOT s MATCHES "\\.(c|cc|cpp|cxx)$")
        continue()
      endif()
      if(IS_ABSOLUTE "${s}")
        set(path ${s})
        file(RELATIVE_PATH rel ${dir} ${s})
      else()
        set(path ${dir}/${s})
        set(rel ${s})
      endif()
      get_source_file_property(options ${path} DIRECTORY ${dir} COMPILE_OPTIONS)
      get_source_file_property(flags ${path} DIRECTORY ${dir} COMPILE_FLAGS)
      if(NOT "${options};${flags};${target_options}" MATCHES "${TESSIVO_ISA_OPTION_REGEX}")
        continue()
      endif()
      string(REGEX REPLACE "([.+])" "\\\\\\1" pattern "/${rel}.o")
      list(APPEND objects "$<FILTER:$<TARGET_OBJECTS:${t}>,INCLUDE,${pattern}$>")
      file(RELATIVE_PATH shown ${CMAKE_SOURCE_DIR} ${dir}/${rel})
      list(APPEND names "${shown}")
      list(APPEND owners ${t})
    endforeach()
  endforeach()
  if(NOT names)
    return()
  endif()
  list(REMOVE_DUPLICATES owners)

  # One line per source: its name and the object the build makes of it (an
  # empty object means the naming scheme changed; the check then fails).
  set(content "")
  foreach(name obj IN ZIP_LISTS names objects)
    string(APPEND content "list(APPEND ISA_SOURCES \"${name}\")\nlist(APPEND ISA_OBJECTS \"${obj}\")\n")
  endforeach()
  set(list_file ${CMAKE_BINARY_DIR}/isa-objects.cmake)
  file(GENERATE OUTPUT ${list_file} CONTENT "${content}")

  if(CMAKE_READELF)
    set(TESSIVO_READELF ${CMAKE_READELF})
  else()
    find_program(TESSIVO_READELF NAMES readelf REQUIRED)
  endif()
  find_program(TESSIVO_CXXFILT NAMES c++filt)
  set(check ${CMAKE_COMMAND} -DLIST=${list_file} -DREADELF=${TESSIVO_READELF} -DCXXFILT=${TESSIVO_CXXFILT}
      -P ${CMAKE_SOURCE_DIR}/cmake/CheckIsaObjects.cmake)
  set(stamp ${CMAKE_BINARY_DIR}/isa-objects.checked)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${check}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${objects} ${list_file} ${CMAKE_SOURCE_DIR}/cmake/CheckIsaObjects.cmake
    COMMENT "Checking the AVX objects for load-time code and shared inline functions"
    VERBATIM)
  add_custom_target(isa_object_check ALL DEPENDS ${stamp})
  add_dependencies(isa_object_check ${owners})

  if(TESSIVO_BUILD_TESTS)
    add_test(NAME AVXObjectsHaveNoStaticInitialisersNorSharedInlineCode COMMAND ${check})
    add_test(NAME IsaObjectCheckRefusesLoadTimeCodeAndSharedInlineCode
      COMMAND ${CMAKE_COMMAND} -DCXX=${CMAKE_CXX_COMPILER} -DWORK=${CMAKE_BINARY_DIR}/isa-check-cases
              -DREADELF=${TESSIVO_READELF} -DCXXFILT=${TESSIVO_CXXFILT}
              -P ${CMAKE_SOURCE_DIR}/cmake/IsaObjectCheckCases.cmake)
  endif()
endfunction()
