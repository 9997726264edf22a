// The --help texts of scsi-timeouts and of its commands that only read or write one value.
#include "help_texts.h"

namespace scsi_timeouts_tool {

extern const char tool_help[] =
    "Usage: scsi-timeouts show [--json] [NAME...]\n"
    "       scsi-timeouts check [--json]\n"
    "       scsi-timeouts set [--dry-run] NAME DURATION\n"
    "       scsi-timeouts reset [--dry-run] NAME\n"
    "       scsi-timeouts advise [--json] [--this-host] [--device /dev/sgN]... [--devices]\n"
    "                            [--journal[=PATH]]... [--since TIME] [--boot [N]]\n"
    "                            [--drive-report FILE]... [--kernel-log FILE]...\n"
    "                            [--apply [--dry-run]]\n"
    "       scsi-timeouts export [--json]\n"
    "       scsi-timeouts apply [--check] [--diff] [--exclusive] [--json] PROFILE\n"
    "       scsi-timeouts --help | --version\n"
    "Shows the SCSI timeouts that the registry key \"ScsiTimeouts\" puts in force, checks its\n"
    "values, and changes one value safely.\n"
    "\n"
    "Commands:\n"
    "  show    the timeout of each operation code, the value that decides it, its command\n"
    "  check   every value the load reads, what it gives, and what the load would rewrite\n"
    "  set     write a value's timeout, then read it back in a new process\n"
    "  reset   put a value back to its built-in behaviour\n"
    "  advise  propose values to set from the drives' own timeouts and the kernel log\n"
    "  export  write the values the registry holds as a profile\n"
    "  apply   make the registry hold a profile (PROFILE '-': standard input)\n"
    "\n"
    "A NAME is DEFAULT, a named command (REWIND), CDB_xx, an operation code (0x92, 7 or 146;\n"
    "two digits such as 92 are refused: write 0x92 for the byte the kernel prints) or a SCSI\n"
    "command name (\"LOCATE(16)\", locate16, or the kernel's \"Lock/unlock cache(16)\"), in\n"
    "any case. A change takes effect in processes started after it; set, reset, apply and\n"
    "advise --apply log each value they change through syslog (ident scsi-timeouts). Options\n"
    "may stand anywhere; '--' ends them.\n"
    "Exit status: 0 done (check: nothing to repair, no warning); 1 check found something,\n"
    "advise proposed values, or apply changed values;\n"
    "2 usage error, a failing platform store, a write that a new process does not read back,\n"
    "or a write error on standard output (one line on standard error).\n"
    "'scsi-timeouts COMMAND --help' describes a command.\n";

extern const char show_help[] =
    "Usage: scsi-timeouts show [--json] [NAME...]\n"
    "Prints, for each operation code (all 256, or those the NAMEs mean: an operation code\n"
    "0x.., a value name, or a SCSI command name; DEFAULT means the codes it decides), the\n"
    "timeout in seconds that the next process's first lookup will use, the\n"
    "registry value that decides it (a command name, CDB_xx or DEFAULT), its stored text and\n"
    "the SCSI command. --json prints {\"table\": [{\"opcode\", \"timeout\", \"source\",\n"
    "\"stored\", \"command\"}, ...]}.\n"
    "Exit status 0 once the table is printed, whatever the registry holds; see 'check'.\n";

extern const char check_help[] =
    "Usage: scsi-timeouts check [--json]\n"
    "Prints every value under \"ScsiTimeouts\" in the order the load reads it: DEFAULT,\n"
    "CDB_00 to CDB_FF, then the named commands. For each: the stored text, the timeout it\n"
    "gives, the marker the next load will write over it, why, and warnings about numbers the\n"
    "library reads differently from how they look (\"1 800\" is 1, \"1,800\" is 1, \"1e2\" is 1,\n"
    "\"30m\" is 30, \"0600\" is octal 384), and per-code values of named commands, which are\n"
    "never used. Then values under names the library never reads (\"Rewind\", \"cdb_92\").\n"
    "The first line names the store. --json prints {\"store\", \"install_entry\", \"values\": "
    "[{\"name\", \"stored\", \"timeout\",\n"
    "\"repair\", \"reason\", \"warnings\"}, ...], \"misspelled\": [{\"name\", \"stored\",\n"
    "\"meant\"}, ...]}.\n"
    "Exit status: 0 nothing to repair and no warning, 1 findings.\n";

extern const char set_help[] =
    "Usage: scsi-timeouts set [--dry-run] NAME DURATION\n"
    "Writes the value that NAME means as plain seconds, then reads it back in a new process\n"
    "with the library's own reader. DURATION is whole seconds (900) or numbers with units\n"
    "s, m, h, d (90s, 15m, 1h30m, 1d), 1 second to 1 day; digits are decimal. --dry-run\n"
    "prints what would be written and writes nothing. Processes started after the change\n"
    "use it. The first line names the store. Exit status 0 done, 2 refused or not stored\n"
    "as asked.\n";

extern const char reset_help[] =
    "Usage: scsi-timeouts reset [--dry-run] NAME\n"
    "Puts the value that NAME means back to its built-in behaviour: DEFAULT and the named\n"
    "commands get the marker of their built-in default (*1800*), a CDB_xx value an empty text\n"
    "(it then reads as no value; so is a CDB_xx of a named command cleared, which the load\n"
    "never uses). Nothing is written when the value holds that already; what is written is\n"
    "read back in a new process. --dry-run prints what would be written and writes nothing.\n"
    "The first line names the store. Exit status 0 done, 2 refused or not stored as asked.\n";

}  // namespace scsi_timeouts_tool
