// What --help and --version print: apart from the parser, so the text reads as the user sees it.
#include "cli/options.h"

#ifndef QM_VERSION
#define QM_VERSION "0.0.0"
#endif

namespace qm::cli {

std::string VersionText() {
  return "qm7410-cli " QM_VERSION
         "\n"
         "The QM7410 power meter from the command line: readings, logs and settings over Modbus RTU.\n";
}

std::string HelpText() {
  return R"(Usage: qm7410-cli [OPTION]... COMMAND [ARGUMENT]...
Read, log and configure QM7410 power meters over a serial line (Modbus RTU),
with the scaling, units and texts of the qm7410-monitor window.

Commands:
  read                 the settings, the identification and all 33 measured
                       values of each meter, once
  log                  one row per meter every --interval seconds, until
                       --count rows or Ctrl-C
  identify             model, firmware version and title of each meter
  scan                 every slave address from --from to --to that answers
  set NAME=VALUE...    write settings, each checked by reading it back;
                       NAME is one of
                         pt=1..64000, ct=1..64000   transformer ratios
                         wiring=0..5 or its caption  wiring mode
                         accuracy=0.5|0.2           accuracy class
                         direction=normal|reversed  power direction
                         address=0..255             slave address (one meter)
                         baud=1200|2400|4800|9600|19200
                       every value is checked before anything is sent
  energy-reset         clear the four energy counters
  raw START COUNT      COUNT (1..125) registers from START, unscaled
  doctor               find the meter's line settings (every baud rate with
                       each parity, probing addresses as scan does), say
                       what is wrong on the line, and check it: echo,
                       other masters, the pause the meter needs; --baud,
                       --parity and --address narrow the search

Link options:
  -p, --port=N|PATH|URL  serial port: a number counts as the window's port
                       numbers do (1 is the first port: $QM7410_COM1 when
                       set, else /dev/ttyS0), a path is used as it is
                       (default 1); a meter behind a gateway:
                       tcp://HOST:PORT (Modbus TCP) or
                       rtuovertcp://HOST:PORT (RTU frames over TCP)
  -b, --baud=RATE      1200, 2400, 4800, 9600 or 19200 (default 9600)
  -P, --parity=N|O|E   none, odd or even (default N)
  -a, --address=A[,B...]  slave addresses of the meters on the line
                       (default 1)
  -t, --timeout=MS     how long to wait for a reply that has not come
                       (default: the window's reply wait at the baud rate)
      --echo           the line hands back every byte sent (a 2-wire RS-485
                       adapter without echo suppression): drop the echo
      --trace          every frame in and out on standard error, with a
                       time stamp and in words
  -r, --retries=N      ask again N times after a missing or broken reply
                       (default 2; 0 for scan)

Output options:
  -f, --format=FORMAT  table, json or csv (read, identify, scan, raw;
                       default table); csv or jsonl (log; default csv)
  -i, --interval=S     seconds from one log row to the next (log)
  -n, --count=N        stop the log after N rows per meter (log)
  -o, --output=FILE    append the log to FILE; a new file gets the header,
                       an existing one must start with the same header (log)
      --from=A, --to=B first and last address to probe (scan; default 0
                       and 254)
      --quick          doctor: probe addresses 1 to 8 only
      --all            doctor: every address at every setting, not only up
                       to the first meter that answers
  -v, --verbose        show every exchange on standard error
  -h, --help           show this help and exit
  -V, --version        show the version and exit

Values are printed as the window shows them ("220.00 V") and as plain
numbers in V, A, W, var, VA, Hz, Wh and varh. Log rows start with an
RFC 3339 UTC time; each row is flushed as it is written, and a failed read
is reported on standard error, counted and leaves no row.

Exit status:
  0  success
  1  an output file could not be written
  2  the command line is wrong
  3  the serial port or gateway cannot be opened, or went away
  4  a meter did not answer, or not with a valid reply
  5  a value was refused, before sending or by the meter

Examples:
  qm7410-cli --port /dev/ttyUSB0 --address 3 read --format json
  qm7410-cli -p 1 -a 1,2 log --interval 10 --output meters.csv
  qm7410-cli scan --from 1 --to 32
  qm7410-cli -a 5 set pt=100 ct=50 wiring=3
  qm7410-cli -p tcp://192.168.1.20:502 -a 3 read
)";
}

}  // namespace qm::cli
