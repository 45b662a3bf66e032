# Writes a manual page from the program's own help texts, so that the page and the program never
# disagree. Run by the build with -DPAGE=<tarvex-flash|tarvex-panel-sim> -DEXE=<program>
# -DOUT=<page> -DVERSION=<v>.
function(help_of out)
  execute_process(COMMAND ${EXE} ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${EXE} ${ARGN} failed (${rc})")
  endif()
  # roff: backslashes doubled, and no line may start with a control character.
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

if(PAGE STREQUAL "tarvex-panel-sim")
  help_of(sim --help)
  file(WRITE ${OUT} ".TH TARVEX-PANEL-SIM 1 \"\" \"tarvex-panel-sim ${VERSION}\" \"User Commands\"
.SH NAME
tarvex\\-panel\\-sim \\- a simulated Tarvex control panel or keypad on a serial line
.SH SYNOPSIS
.B tarvex\\-panel\\-sim
[\\fIoptions\\fR]
.SH DESCRIPTION
Plays a Tarvex product on a pseudo\\-terminal (or a real serial device) registered as a COM port,
for tests, demonstrations and training without hardware; faults can be injected.
.SH OPTIONS
.nf
${sim}.fi
.SH SEE ALSO
.BR tarvex\\-flash (1),
.BR tarvex\\-flash\\-programmer (1)
")
  return()
endif()

help_of(main --help)
help_of(flash flash --help)
help_of(info info --help)
help_of(history history --help)
help_of(ports ports --help)
help_of(status status --help)

set(page ".TH TARVEX-FLASH 1 \"\" \"tarvex-flash ${VERSION}\" \"User Commands\"
.SH NAME
tarvex\\-flash \\- update the firmware of Tarvex control panels and keypads over USB
.SH SYNOPSIS
.B tarvex\\-flash flash
\\-\\-port COM\\fIn\\fR \\-\\-file \\fIFW.hex\\fR [\\fIoptions\\fR]
.br
.B tarvex\\-flash info
\\fIFW.hex\\fR [\\fIoptions\\fR]
.br
.B tarvex\\-flash history
[\\-\\-last \\fIN\\fR]
.br
.B tarvex\\-flash status
\\-\\-port COM\\fIn\\fR
.br
.B tarvex\\-flash ports
.br
.B tarvex\\-flash
\\-\\-help | \\-\\-version
.SH DESCRIPTION
The command\\-line front end of the Tarvex Flash Programmer: it identifies the product on a
serial port, checks that the firmware file suits it, switches it into its boot loader, erases,
writes, reads back and verifies its flash and starts the new firmware, exactly as the desktop
program does.
.PP
Serial ports are named COM\\fIn\\fR as the desktop program lists them. On Linux the user must
be a member of the \\fBdialout\\fR group to open them.
.SH COMMANDS
.SS tarvex\\-flash
.nf
${main}.fi
.SS flash
.nf
${flash}.fi
.SS info
.nf
${info}.fi
.SS history
.nf
${history}.fi
.SS status
.nf
${status}.fi
.SS ports
.nf
${ports}.fi
.SH FILES
.TP
.I $XDG_DATA_HOME/Tarvex Ltd/Flash Programmer/Logs/Update History.csv
One line for every update attempt (~/.local/share when XDG_DATA_HOME is not set).
.TP
.I $XDG_DATA_HOME/Tarvex Ltd/Flash Programmer/Logs/Verification Data.txt
The differences a failed verify found.
.SH SEE ALSO
.BR tarvex\\-flash\\-programmer (1),
.BR tarvex\\-panel\\-sim (1)
")
file(WRITE ${OUT} "${page}")
