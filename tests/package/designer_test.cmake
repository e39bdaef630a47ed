# Drives quordesigner as a program: cmake -DCASE=... -DDESIGNER=... -DMODULE=...
# -DWORK=<scratch dir> -DRAS_DIR=<phonebook dir> -DREFERENCE=<reference form> -P designer_test.cmake
set(ENV{QUOR_RAS_PHONEBOOK} ${RAS_DIR}/rasphone.pbk)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# run(<expected exit code> args...): runs the designer, leaves OUT and ERR.
# EMULATOR (empty for a native build) is what starts a cross-built program.
macro(run expected)
  execute_process(COMMAND ${EMULATOR} ${DESIGNER} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE OUT ERROR_VARIABLE ERR)
  if(NOT "${rc}" STREQUAL "${expected}")
    message(FATAL_ERROR "quordesigner ${ARGN}: exit ${rc}, expected ${expected}\nstdout:\n${OUT}\nstderr:\n${ERR}")
  endif()
endmacro()
function(expect_in text what)
  string(FIND "${text}" "${what}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "expected to find\n${what}\nin\n${text}")
  endif()
endfunction()
function(expect_file_equals file expected)
  file(READ ${file} content)
  if(NOT content STREQUAL expected)
    message(FATAL_ERROR "${file} holds\n${content}\nexpected\n${expected}")
  endif()
endfunction()

if(CASE STREQUAL "help")
  run(0 --help)
  expect_in("${OUT}" "usage: quordesigner MODULE [options]")
  expect_in("${OUT}" "--bitmap FILE")

elseif(CASE STREQUAL "usage")
  run(2)
  expect_in("${ERR}" "no package module given")
  run(2 ${MODULE} --frobnicate)
  expect_in("${ERR}" "unknown option --frobnicate")
  run(2 ${MODULE} --set EntryName=Office)
  expect_in("${ERR}" "--set needs --create or --load")
  run(2 ${MODULE} --create TQuor --load x.txt)
  run(2 ${MODULE} --create TQuor --set NoEquals)
  run(2 ${MODULE} --bitmap)

elseif(CASE STREQUAL "list")
  run(0 ${MODULE})
  if(NOT OUT STREQUAL "RAS: TQuor\n")
    message(FATAL_ERROR "palette listing is\n${OUT}")
  endif()
  run(0 ${MODULE} --list)
  expect_in("${OUT}" "RAS: TQuor\n")

elseif(CASE STREQUAL "info")
  run(0 ${MODULE} --info)
  expect_in("${OUT}" "Description: TQuor\n")
  expect_in("${OUT}" "Flags: 0x40000002 (package module, design-time only)\n")
  expect_in("${OUT}" "Requires: vcl30\n")
  expect_in("${OUT}" "Contains: TQuor30 (main, package)\nContains: Ras2 (implicit)\nContains: SysInit (weak)\nContains: TQuorComponent (package)\n")

elseif(CASE STREQUAL "bitmap")
  run(0 ${MODULE} --bitmap ${WORK}/tquor.bmp)
  expect_in("${OUT}" "Bitmap TQUOR: 24x24, 8 bits per pixel, 256 colours, 1654 bytes written")
  file(SIZE ${WORK}/tquor.bmp size)
  if(NOT size EQUAL 1654)
    message(FATAL_ERROR "tquor.bmp has ${size} bytes")
  endif()
  # BITMAPFILEHEADER: "BM", file size, 0, pixel offset 14 + 40 + 1024.
  file(READ ${WORK}/tquor.bmp head LIMIT 14 HEX)
  if(NOT head STREQUAL "424d760600000000000036040000")
    message(FATAL_ERROR "tquor.bmp starts with ${head}")
  endif()
  file(GLOB leftovers ${WORK}/*.~tmp)
  if(leftovers)
    message(FATAL_ERROR "temporary files left: ${leftovers}")
  endif()
  run(1 ${MODULE} --bitmap ${WORK}/no/such/dir/x.bmp)
  expect_in("${ERR}" "cannot create")

elseif(CASE STREQUAL "form")
  run(0 ${MODULE} --create TQuor --set EntryName=Office --set RedialAttempts=3
        --set OnNotify=Form1QuorNotify --save ${WORK}/form.txt)
  expect_in("${OUT}" "Saved Quor1 to ${WORK}/form.txt")
  expect_file_equals(${WORK}/form.txt
"object Quor1: TQuor
  EntryName = 'Office'
  PhoneNumber = ''
  CallbackNumber = ''
  UserName = ''
  Password = ''
  RedialAttempts = 3
  Domain = ''
  OnNotify = Form1QuorNotify
  SynchronousDial = False
  RedialPause = 10
end
")
  run(0 ${MODULE} --load ${WORK}/form.txt)
  expect_in("${OUT}" "Quor1: TQuor\n  MinimizeDialWindow = True\n  EntryName = 'Office'\n")
  expect_in("${OUT}" "  RedialAttempts = 3\n")
  expect_in("${OUT}" "  OnNotify = Form1QuorNotify\n")
  expect_in("${OUT}" "  OnConnect = (none)\n")
  # Load, edit and save again: the setter holds RedialPause at 60.
  run(0 ${MODULE} --load ${WORK}/form.txt --set RedialPause=200 --set "Password=it's" --save ${WORK}/form2.txt)
  file(READ ${WORK}/form2.txt form2)
  expect_in("${form2}" "  RedialPause = 60\n")
  expect_in("${form2}" "  Password = 'it''s'\n")
  expect_in("${form2}" "  OnNotify = Form1QuorNotify\n")
  run(0 ${MODULE} --create TQuor --name Dialer --save ${WORK}/form3.txt)
  file(READ ${WORK}/form3.txt form3)
  expect_in("${form3}" "object Dialer: TQuor\n")

elseif(CASE STREQUAL "reference")
  # Every build, 32-bit, 64-bit or native, reads the reference form and writes it again byte for byte
  # (.ci/windows.sh also hands each Windows build's save to the other Windows build).
  run(0 ${MODULE} --load ${REFERENCE} --save ${WORK}/Dialer.txt)
  file(READ ${REFERENCE} reference)
  expect_file_equals(${WORK}/Dialer.txt "${reference}")
  expect_in("${OUT}" "  RedialAttempts = -2147483648\n")

elseif(CASE STREQUAL "errors")
  run(1 ${WORK}/missing.dpl)
  expect_in("${ERR}" "cannot load package module")
  file(WRITE ${WORK}/bad.txt "object Quor1: TQuor\n  EntryName = 'Office'\n  RedialPause = 300\nend\n")
  run(1 ${MODULE} --load ${WORK}/bad.txt)
  expect_in("${ERR}" "line 3: value 300 is out of range for Byte")
  file(WRITE ${WORK}/bad2.txt "object Quor1: TQuor\n  EntryName = 'Office\n")
  run(1 ${MODULE} --load ${WORK}/bad2.txt)
  expect_in("${ERR}" "line 2: unterminated string")
  run(1 ${MODULE} --create TNoSuch)
  expect_in("${ERR}" "unknown class TNoSuch")
  run(1 ${MODULE} --create TQuor --set RedialPause=300 --save ${WORK}/never.txt)
  expect_in("${ERR}" "out of range for Byte")
  run(1 ${MODULE} --create TQuor --set Colour=3 --save ${WORK}/never.txt)
  expect_in("${ERR}" "TQuor has no property Colour")
  if(EXISTS ${WORK}/never.txt)
    message(FATAL_ERROR "a failed edit wrote its form")
  endif()
  run(1 ${MODULE} --load ${WORK}/nothing.txt)
  expect_in("${ERR}" "cannot read form file")

else()
  message(FATAL_ERROR "unknown CASE ${CASE}")
endif()
