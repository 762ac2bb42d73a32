# The project's 6502 test programs (tests/asm/*.s), assembled with ca65 and ld65 when
# they are installed. A program links with its own memory map when it has one, else as
# 16 KiB NROM. Every program is rebuilt when a shared include (tests/asm/*.inc) changes.
#
#   assemble_test_programs(OUT_DIR RESULT_VAR)
#
# sets RESULT_VAR to the .nes files the build will write into OUT_DIR, or to nothing
# when the assembler is missing.
function(assemble_test_programs out_dir result_var)
  find_program(CA65 ca65)
  find_program(LD65 ld65)
  set(asm_dir ${PROJECT_SOURCE_DIR}/tests/asm)
  set(roms)
  if(CA65 AND LD65)
    file(GLOB programs CONFIGURE_DEPENDS ${asm_dir}/*.s)
    # Code that several programs share (.include) lies in .inc files.
    file(GLOB shared_code CONFIGURE_DEPENDS ${asm_dir}/*.inc)
    foreach(source ${programs})
      get_filename_component(program ${source} NAME_WE)
      set(config ${asm_dir}/nrom.cfg)
      if(EXISTS ${asm_dir}/${program}.cfg)
        set(config ${asm_dir}/${program}.cfg)
      endif()
      add_custom_command(
        OUTPUT ${out_dir}/${program}.nes
        COMMAND ${CMAKE_COMMAND} -E make_directory ${out_dir}
        COMMAND ${CA65} -I ${asm_dir} ${source} -o ${out_dir}/${program}.o
        COMMAND ${LD65} -C ${config} ${out_dir}/${program}.o -o ${out_dir}/${program}.nes
        DEPENDS ${source} ${config} ${shared_code}
        COMMENT "Assembling ${program}.s")
      list(APPEND roms ${out_dir}/${program}.nes)
    endforeach()
  endif()
  set(${result_var} ${roms} PARENT_SCOPE)
endfunction()
