#include "Terminal/strings.h"

#include <iterator>

namespace vela::terminal {

namespace {

#define VELA_BANNER_VERSION L"" VELA_VERSION  // wide form of the version

constexpr string_entry english[] = {
    {1,
     L"Connect to database in terminal mode:\n"
     L"sqlterm -cs:<connection string> [-do] [-cd:<column delimiter>] [-ml]\n"
     L"  -ml, -multiline             a statement runs once a line ends with \";\"\n"
     L"  -pager[:always]             output taller than the screen (always: any output) through $PAGER (less -SRFX)\n"
     L"  -x[:on | off | auto], -expanded  rows one column a line (auto: when wider than the terminal)\n"
     L"  -border:<0 | 1 | 2>         the frame of the aligned format;  -timing:<on | off>  execution times\n"
     L"  -rc:<file>                  the start-up file to read (default $XDG_CONFIG_HOME/vela/sqltermrc,\n"
     L"                              only at a terminal);  -norc  none\n"
     L"sqlterm -init-rc [-rc:<file>]  write a commented start-up file\n"
     L"\n"
     L"Connect to database and execute SQL queries from command line argument:\n"
     L"sqlterm -cs:<connection string> [-do] [-cd:<column delimiter>] -q:\"<SQL queries>\"\n"
     L"\n"
     L"Connect to database and execute SQL queries from file:\n"
     L"sqlterm -cs:<connection string> [-do] [-cd:<column delimiter>] -qf:<file name>[,<code page>]\n"
     L"\n"
     L"Connect to database and execute SQL queries from stdin:\n"
     L"sqlterm -cs:<connection string> [-do] [-cd:<column delimiter>] -qi\n"
     L"\n"
     L"Options for scripts and exports, with any of the above:\n"
     L"  -oe, -on_error              stop at the first failure; its code is the exit status\n"
     L"  -csv                        CSV: a header line, then the rows (\",\" or the -cd delimiter)\n"
     L"  -format:<name>, -fmt:<name>  {formats};\n"
     L"                              standard output then holds the rows alone\n"
     L"  -null:<text>, -null_text:<text>  the text printed for NULL\n"
     L"  -lc[:<width>], -long_columns[:<width>]  print long text and binary columns\n"
     L"  -cs:@<file>                 the connection string read from a file only its owner can read\n"
     L"  -batch:<rows>               rows per batch of a load (COPY blocks, \\copy), 1000 by default\n"
     L"  -copy_from:<connection string> -into:<table> -q:\"<query>\"  load the query's rows into the table\n"
     L"  -create[:replace | if_not_exists]  with -copy_from: make the table from the query's columns first\n"
     L"  -copy_from:<connection string> -tables:<table,… | *> | -schema[:<name>]  copy whole tables with their\n"
     L"                              keys and indexes (* or no name: the source's own tables)\n"
     L"  -jobs:<N>                   with -tables or -schema: N tables copied at once; with several hosts:\n"
     L"                              a load's batches spread over N connections, one a host\n"
     L"  -retry:<N>                  run a statement outside a transaction, or a load's batch, again up to N\n"
     L"                              times after a conflict (deadlock, serialization, cluster); loads: 3\n"
     L"  -v:<name>=<value>, -variable:<name>=<value>  a variable, :name in statements (repeatable)\n"
     L"  -hosts:<host[:port],…>      hosts tried in order in place of the server (Server=h1,h2:port lists them too)\n"
     L"  -target:<any | read-write | read-only | primary | standby>  the kind of host to take;\n"
     L"                              -host_order:<listed | random>  the order the hosts are tried in\n"
     L"  -reconnect                  a lost connection is opened again (on the next host), in scripts too\n"
     L"sqlterm --help | -h | /?     this text;  sqlterm --version\n"
     L"\n"
     L"Usage compatible to v1.4 and below:\n"
     L"sqlterm [dataonly] [cs:<col_separator>] <ODBC driver> [driver parameters list] [SQL file]\n"
     L"where <driver parameters list> is as follows:\n"
     L"<parameter 1>=<value>;<parameter 2>=<value>;...;<parameter N>=<value>\n"
     L"\n"
     L"Examples: sqlterm -cs:\"Driver=SQLite3;Database=/var/lib/app/app.db\" -q:\"select * from customers\"\n"
     L"          sqlterm -cs:\"Driver=PostgreSQL Unicode;Server=localhost;Port=5432;Database=app;Uid=app;Pwd=secret\"\n"
     L"          sqlterm SQLite3 \"Database=/var/lib/app/app.db\" init.sql\n"
     L"\n"
     L"Online help file:///usr/local/share/doc/vela/README.md"},
    {2, L"sqlterm " VELA_BANNER_VERSION L" (vela) - ODBC database terminal\n\n"},
    {3, L"Internal error occured"},
    {4, L"Command failed"},
    {103, L"Unknown command '%s'. Use HELP command for a list of supported commands.\n"},
    {104, L"Connected to '%s', parameters '%s'\n"},
    {105, L"Disconnected from '%s', parameters '%s'\n"},
    {106, L"Connection failed to '%s', parameters '%s''\n"},
    {107, L"Is not connected.\n"},
    {108,
     L"CONNECT <connection string>\n"
     L"CONNECT DRIVER <ODBC driver> <parameters>\n"
     L"CONNECT DATASOURCE <datasource> <user> <pwd>\n"},
    {109, L"Execution time %ss."},
    {110, L"Rows selected: %u."},
    {111, L"No rows selected."},
    {112, L"Unknown parameter '%s'\n"},
    {113, L"Ccommand parameter missed\n"},
    {114,
     L"Displays list of objects:\n"
     L"DRIVERS - ODBC drivers, DATASOURCES - ODBC data sources, for example, LIST DRIVERS\n"
     L"TABLES [CATALOG=<catalog>] [TABLE=<table>] - tables, COLUMNS [<table>] - columns of tables\n"},
    {115, L"Number of drivers: "},
    {116, L"List of ODBC drivers:"},
    {117, L"List of user data sources:"},
    {118, L"List of system data sources:"},
    {119, L"No user data sources."},
    {120, L"no system data sources."},
    {121, L"Number of datasources: "},
    {122, L"Exit"},
    {123, L"Failed to connect to datasource %s, user %s\n"},
    {124, L"Connected to datasource %s, user %s\n"},
    {125, L"Disconnedted from datasource %s\n"},
    {126, L"Connected to datasource %s\n"},
    {127, L"Failed to connect to datasource %s\n"},
    {128,
     L"HELP - list of supported commands\n"
     L"HELP <command> - information on command\n"},
    {129, L"Rows affected: %u."},
    {130, L"No rows affected."},
    {131, L"Connected to '%s'\n"},
    {132, L"Failed to connect to '%s'\n"},
    {133, L"Disconnected from '%s'"},
    {134, L"Statement not run, it does not end with ';': %s\n"},
    {135, L"Column '%s' (long text or binary) is left out; -lc prints it.\n"},
    {136, L"sqlterm " VELA_BANNER_VERSION L" (vela)\nODBC driver manager %s\n"},
    {137, L"Client command not supported: %s (%s:%u)\n"},
    {138, L"COPY FROM stdin is not supported yet: %u data lines of table %s skipped (%s:%u)\n"},
    {139, L"Script files nested too deep: %s (%s:%u)\n"},
    {140, L"Script file includes itself: %s (%s:%u)\n"},
    {141, L"The driver has not returned 3 seconds after the statement was cancelled: sqlterm ends.\n"},
    {142, L"Invalid option '%s'"},
    {143, L"Option '%s' is given more than once"},
    {144, L"Argument %u is not an option"},
    {145, L"Run 'sqlterm --help' for the usage."},
    {146, L"The history folder '%s' is not private to you: no history is kept.\n"},
    {148, L"Table '%s' not found.\n"},
    {149, L"Rows loaded: %s. Rows failed: %s."},
    {150, L"Row not loaded (%s:%u): %s\n"},
    {151, L"COPY not run: %s (%s:%u)\n"},
    {152, L"%s rows, %s rows/s"},
    {153, L"%u values expected, %u found"},
    {154, L"a quoted field is not closed"},
    {155, L"Rows written: %s."},
    {156, L"COPY not run: %s\n"},
    {157, L"This driver holds whole results in memory, and this process has used %u MiB; %s in the connection string makes results stream.\n"},
    {158, L"Rows loaded: %s. Rows failed: %s. Lines skipped: %s."},
    {159, L"the header is malformed: %s"},
    {160, L"The connection was lost: the load stopped. Last batch committed: %s.\n"},
    {161, L"Not committed: %s.\n"},
    {162, L"Outcome unknown (its commit was not answered): %s.\n"},
    {163, L"batch %s (lines %u to %u)"},
    {164, L"none"},
    {165, L"The transaction left open was rolled back.\n"},
    {166, L"Statement not sent: bytes at %s:%u are not valid text, and this database cannot be given them exactly\n"},
    {170, L"Client commands, each at the start of a statement:\n"},
    {171,
     L"\\d[S]             tables and views (S: also the system objects)\n"
     L"\\d <table>        a table: columns with type, nullable and default; indexes, keys, checks\n"},
    {172, L"\\dt[S] [<table>]  tables\n"},
    {173, L"\\c <database>     connect again, to another database\n"},
    {174, L"\\i <file>         run a script file (\\ir: beside the running script; MySQL: source <file>)\n"},
    {175, L"\\timing [on | off]  execution times in the summary line (on; alone: on)\n"},
    {176, L"\\q                end the session, as EXIT and QUIT do\n"},
    {177, L"\\?                this list\n"},
    {178, L"Commands: %s; HELP <command> tells more.\n"},
    {179, L"\\conninfo         the connection: data source, driver, DBMS and its version, user\n"},
    {180, L" or "},
    {181, L"\\copy <table> FROM | TO <file>  rows between a table (or a query) and a client file\n"},
    {182, L"\\restrict <key>   accepted and skipped, as in dump scripts (also \\unrestrict)\n"},
    {183, L"Rows up to line %u are in the table; to go on from there: \\copy … FROM '%s' WITH (…, SKIP %u)\n"},
    {184, L"\\set [<name> [<value>]]  list the variables and settings, or set one (MULTILINE, ON_ERROR_STOP: on | off)\n"},
    {185, L"\\unset <name>     forget a variable (a setting goes off)\n"},
    {186, L"\\pset [<name> [<value>]]  format <name> | null <text> | border 0..2 | pager on | off | always\n"},
    {187, L"\\x [on | off | auto]  rows one column a line (auto: when wider than the terminal)\n"},
    {188, L"\\encoding [<name>]  the terminal's encoding (set by the locale)\n"},
    {189, L"Unknown setting '%s' of %s.\n"},
    {190, L"Invalid value '%s' for %s.\n"},
    {191, L"Invalid variable name '%s': letters, digits and '_' only.\n"},
    {192, L"%s needs a name.\n"},
    {193, L"The encoding '%s' is not the terminal's, %s: it follows the locale (LANG, LC_ALL).\n"},
    {194, L"The start-up file '%s' is not read: it must be a regular file of its user that group and others cannot change, in a folder of the same kind.\n"},
    {195, L"Start-up file written: %s\n"},
    {196, L"The start-up file '%s' exists already and is left as it is.\n"},
    {197,
     L"-- sqlterm's start-up file. It is read when sqlterm starts at a terminal; never for -q, -qf,\n"
     L"-- -qi or input from a pipe unless -rc:<file> names it; -norc skips it. Each line is one the\n"
     L"-- prompt accepts: a setting, a variable, any command or statement. A line that fails is\n"
     L"-- reported with its file:line, and the lines after it still run.\n"
     L"\n"
     L"-- A statement runs once a line ends with \";\" (as -ml); off without this file.\n"
     L"\\set MULTILINE on\n"
     L"\n"
     L"-- A script stops at its first failure (as -oe).\n"
     L"-- \\set ON_ERROR_STOP on\n"
     L"\n"
     L"-- How rows are printed: padded (the default), aligned, vertical, json, jsonl, markdown, csv, tsv.\n"
     L"-- \\pset format aligned\n"
     L"-- \\pset null '(null)'\n"
     L"-- \\pset border 2\n"
     L"-- \\pset pager on\n"
     L"-- Rows one column a line when a row is wider than the terminal.\n"
     L"-- \\x auto\n"
     L"-- \\timing off\n"},
    {198, L"The start-up file '%s' cannot be read: %s\n"},
    {199, L"The start-up file '%s' cannot be written: %s\n"},
    {200, L"Still connected to '%s'.\n"},
    {201,
     L"\\if <condition>   the lines up to \\elif, \\else or \\endif run when it is true, on, yes or 1\n"
     L"                  (or :{?name}, a variable is set); then \\elif <condition>, \\else, \\endif\n"},
    {202, L"%s: '%s' is not a Boolean value (true or false, on or off, yes or no, 1 or 0)"},
    {203, L"%s: no \\if block is open"},
    {204, L"%s: the \\if block has had its \\else"},
    {205, L"\\if without \\endif (%s:%u)\n"},
    {240, L"Table \"%s\""},
    {241, L"Indexes:"},
    {242, L"Foreign-key constraints:"},
    {243, L"Check constraints:"},
    {244, L"\\dv[S] [<view>]   views\n"},
    {245, L"\\di[S] [<table>]  indexes of tables\n"},
    {246, L"\\dn[S]            schemas\n"},
    {247, L"\\df[S]            procedures and functions\n"},
    {248,
     L"\\d[S+] - the tables and views; S: also the system objects\n"
     L"\\d[+] <table> - a table: its columns with type, nullable and default (+: also their descriptions),\n"
     L"then its primary key and indexes, foreign keys and check constraints\n"},
    {249, L"\\dt[S+] [<pattern>] - the tables whose names match (* and ? as wildcards); S: also the system tables\n"},
    {250, L"\\dv[S+] [<pattern>] - the views whose names match (* and ? as wildcards); S: also the system views\n"},
    {251, L"\\di[S+] [<pattern>] - the indexes of the tables whose names match; S: also of the system tables\n"},
    {252, L"\\dn[S+] - the schemas (MySQL and MariaDB: the databases); S: also the system schemas\n"},
    {253, L"\\df[S+] - the procedures and functions; S: also the system ones\n"},
    {340, L"\\s [<file>]       the history of what was typed, each statement one entry (or into <file>)\n"},
    {341, L"History written to '%s'.\n"},
    {342, L"Table %s created."},
    {343, L"Column %s of %s widened to %s for line %u."},
    {344, L"Line %u needs wider column types: table %s is made again and the load starts again."},
    {345, L"a column list does not go with CREATE"},
    {346, L"this database commits the open transaction before it makes a table: CREATE goes outside a transaction"},
    {390, L"Refused records written to %s: %s."},
    {391, L"MAX_ERRORS %s reached: the load stopped at line %u.\n"},
    {392, L"Rows before line %u are in the table or refused; to go on after it: \\copy … FROM '%s' WITH (…, SKIP %u)\n"},
    {393, L"Cancelled: the load stopped.\n"},
    {394, L"REJECTS takes the records of a file, not the rows of a query"},
    {395, L"Rows taken: %s; rows loaded and refused: %s: the counts differ."},
    {396, L"Load jobs: %u, on %s."},
    {397, L"Load job %u lost its connection (%s); its rows not committed went to the other jobs."},
    {398, L"Table %s: the connection to the target was lost; its rows are copied again on %s."},
    {347, L"not a JSON object: %s"},
    {348, L"the key \"%s\" is no column of the table"},
    {349, L"standard input could not be read: %s"},
    {350, L"Rows up to line %u are in the table; to go on from there: \\copy … FROM pstdin WITH (…, SKIP %u)\n"},
    {360, L"Table %s: %s rows read, %s written in %s s; count %s on the source, %s on the target."},
    {361, L"Table %s FAILED: %s rows read, %s written in %s s; count %s on the source, %s on the target."},
    {362, L"Table %s failed: %s\n"},
    {363, L"Tables copied: %u. Tables failed: %u."},
    {364, L"Not copied: %s %s."},
    {365, L"view"},
    {366, L"procedure"},
    {367, L"function"},
    {368, L"trigger"},
    {369, L"routine"},
    {370, L"Tables not copied: no table %s on the source\n"},
    {371, L"Tables not copied: the source has no tables to copy\n"},
    {372, L"Tables not copied: %s\n"},
    {373, L"the counts differ"},
    {374, L"Not copied: foreign key %s of table %s, whose table %s is not copied."},
    {375, L"Not copied: %s of table %s."},
    {440, L"Retried %u times: %s."},
    {441, L"Retried once: %s."},
    {442, L"Batch retries: %s."},
    {443, L"serialization failure"},
    {444, L"deadlock"},
    {445, L"certification conflict"},
    {446, L"cluster node not ready"},
    {447, L"connection lost"},
    {220, L"Could not open '%s' for output: %s\n"},
    {221, L"Could not start the command '%s'.\n"},
    {222, L"Could not write to '%s': %s\n"},
    {223, L"The command '%s' ended with status %d.\n"},
    {224, L"The query buffer is empty.\n"},
    {225, L"Nothing to run: the query buffer is empty and no statement ran before.\n"},
    {226, L"\\gset: the statement returned no row; no variable was set.\n"},
    {227, L"\\gset: the statement returned more than one row; no variable was set.\n"},
    {228, L"\\gset: the statement returned no rows to take the variables from.\n"},
    {229, L"%s (every %ss)\n"},
    {230, L"\\watch: '%s' is no number of seconds greater than 0.\n"},
    {231, L"The editor '%s' ended with status %d; the query buffer is unchanged.\n"},
    {232, L"Could not use the file '%s' for editing: %s\n"},
    {233, L"Query buffer reset (cleared).\n"},
    {234, L"\\o [<file> | |<command>]  the rows of the statements after it to a file or a command (\\o alone: back)\n"},
    {235, L"\\g [<file> | |<command>]  run the query buffer (or the last statement), its rows once elsewhere\n"},
    {236, L"\\gx [<file> | |<command>] the same, its rows in the vertical layout\n"},
    {237, L"\\gset [<prefix>]  run the query buffer; the columns of its one row become variables\n"},
    {238, L"\\watch [<seconds>] run the last statement every 2 seconds (or as given) until Ctrl-C\n"},
    {239, L"\\e [<file>]       edit the query buffer (or the last statement) in $VISUAL or $EDITOR; run when it ends with \";\"\n"},
    {300, L"\\r                clear the query buffer\n"},
    {301, L"\\p                print the query buffer (or the last statement)\n"},
    {320, L"\\refresh          fetch the tables and columns that Tab completes again\n"},
    {420, L"Host %s refused: %s\n"},
    {421, L"Host %s is not %s.\n"},
    {422, L"Host %s cannot tell whether it is %s.\n"},
    {423, L"Connected host: %s\n"},
    {424, L"No host could be used (%u tried).\n"},
    {425, L"The connection was lost; reconnected to %s. The statement was not run again.\n"},
    {426, L"The connection was lost; no host could be reached.\n"},
    {427, L"Invalid host list '%s'.\n"},
};

constexpr string_entry russian[] = {
    {1,
     L"Подключение к базе данных в режиме терминала:\n"
     L"sqlterm -cs:<строка подключения> [-do] [-cd:<разделитель столбцов>] [-ml]\n"
     L"  -ml, -multiline             запрос выполняется, когда строка кончается на \";\"\n"
     L"  -pager[:always]             вывод выше экрана (always: любой вывод) - через $PAGER (less -SRFX)\n"
     L"  -x[:on | off | auto], -expanded  строки по столбцу в строке (auto: когда шире терминала)\n"
     L"  -border:<0 | 1 | 2>         рамка формата aligned;  -timing:<on | off>  время выполнения\n"
     L"  -rc:<файл>                  файл запуска (по умолчанию $XDG_CONFIG_HOME/vela/sqltermrc,\n"
     L"                              только в терминале);  -norc  без него\n"
     L"sqlterm -init-rc [-rc:<файл>]  записать файл запуска с комментариями\n"
     L"\n"
     L"Подключение к базе данных и выполнение SQL-запросов из аргумента командной строки:\n"
     L"sqlterm -cs:<строка подключения> [-do] [-cd:<разделитель столбцов>] -q:\"<SQL-запросы>\"\n"
     L"\n"
     L"Подключение к базе данных и выполнение SQL-запросов из файла:\n"
     L"sqlterm -cs:<строка подключения> [-do] [-cd:<разделитель столбцов>] -qf:<имя файла>[,<кодовая страница>]\n"
     L"\n"
     L"Подключение к базе данных и выполнение SQL-запросов со стандартного ввода:\n"
     L"sqlterm -cs:<строка подключения> [-do] [-cd:<разделитель столбцов>] -qi\n"
     L"\n"
     L"Параметры для сценариев и выгрузки, вместе с любым из вариантов выше:\n"
     L"  -oe, -on_error              остановка на первой ошибке; её код - код завершения\n"
     L"  -csv                        CSV: строка заголовка, затем строки (\",\" или разделитель -cd)\n"
     L"  -format:<имя>, -fmt:<имя>   {formats};\n"
     L"                              тогда стандартный вывод содержит только строки\n"
     L"  -null:<текст>, -null_text:<текст>  текст, выводимый вместо NULL\n"
     L"  -lc[:<ширина>], -long_columns[:<ширина>]  вывод длинных текстовых и двоичных столбцов\n"
     L"  -cs:@<файл>                 строка подключения из файла, доступного только владельцу\n"
     L"  -batch:<строк>              строк в пакете загрузки (блоки COPY, \\copy), по умолчанию 1000\n"
     L"  -copy_from:<строка подключения> -into:<таблица> -q:\"<запрос>\"  загрузить строки запроса в таблицу\n"
     L"  -create[:replace | if_not_exists]  с -copy_from: сначала создать таблицу по столбцам запроса\n"
     L"  -copy_from:<строка подключения> -tables:<таблица,… | *> | -schema[:<имя>]  скопировать таблицы целиком\n"
     L"                              с ключами и индексами (* или без имени: собственные таблицы источника)\n"
     L"  -jobs:<N>                   с -tables или -schema: копировать N таблиц одновременно; с несколькими\n"
     L"                              хостами: пакеты загрузки распределяются по N соединениям, по хосту на каждое\n"
     L"  -retry:<N>                  повторить запрос вне транзакции или пакет загрузки до N раз после\n"
     L"                              конфликта (взаимоблокировка, сериализация, кластер); загрузки: 3\n"
     L"  -v:<имя>=<значение>, -variable:<имя>=<значение>  переменная, :имя в запросах (можно повторять)\n"
     L"  -hosts:<хост[:порт],…>      хосты по порядку вместо сервера (их перечисляет и Server=h1,h2:порт)\n"
     L"  -target:<any | read-write | read-only | primary | standby>  какой хост взять;\n"
     L"                              -host_order:<listed | random>  порядок, в котором пробуются хосты\n"
     L"  -reconnect                  потерянное соединение открывается снова (на следующем хосте), и в скриптах\n"
     L"sqlterm --help | -h | /?     эта справка;  sqlterm --version\n"
     L"\n"
     L"Синтаксис, совместимый с версией 1.4 и ниже:\n"
     L"sqlterm [dataonly] [cs:<разделитель_столбцов>] <драйвер ODBC> [список параметров драйвера] [SQL-файл]\n"
     L"где <список параметров драйвера> имеет вид:\n"
     L"<параметр 1>=<значение>;<параметр 2>=<значение>;...;<параметр N>=<значение>\n"
     L"\n"
     L"Примеры: sqlterm -cs:\"Driver=SQLite3;Database=/var/lib/app/app.db\" -q:\"select * from customers\"\n"
     L"         sqlterm -cs:\"Driver=PostgreSQL Unicode;Server=localhost;Port=5432;Database=app;Uid=app;Pwd=secret\"\n"
     L"         sqlterm SQLite3 \"Database=/var/lib/app/app.db\" init.sql\n"
     L"\n"
     L"Справка file:///usr/local/share/doc/vela/README.md"},
    {2, L"sqlterm " VELA_BANNER_VERSION L" (vela) - терминал баз данных ODBC\n\n"},
    {3, L"Внутренняя ошибка"},
    {4, L"Команда не выполнена"},
    {103, L"Неизвестная команда '%s'. Список поддерживаемых команд выводит команда HELP.\n"},
    {104, L"Подключено к '%s', параметры '%s'\n"},
    {105, L"Отключено от '%s', параметры '%s'\n"},
    {106, L"Не удалось подключиться к '%s', параметры '%s''\n"},
    {107, L"Подключение не установлено.\n"},
    {108,
     L"CONNECT <строка подключения>\n"
     L"CONNECT DRIVER <драйвер ODBC> <параметры>\n"
     L"CONNECT DATASOURCE <источник данных> <пользователь> <пароль>\n"},
    {109, L"Время выполнения %s с."},
    {110, L"Выбрано строк: %u."},
    {111, L"Строки не выбраны."},
    {112, L"Неизвестный параметр '%s'\n"},
    {113, L"Не указан параметр команды\n"},
    {114,
     L"Выводит список объектов:\n"
     L"DRIVERS - драйверы ODBC, DATASOURCES - источники данных ODBC, например, LIST DRIVERS\n"
     L"TABLES [CATALOG=<каталог>] [TABLE=<таблица>] - таблицы, COLUMNS [<таблица>] - столбцы таблиц\n"},
    {115, L"Количество драйверов: "},
    {116, L"Список драйверов ODBC:"},
    {117, L"Список пользовательских источников данных:"},
    {118, L"Список системных источников данных:"},
    {119, L"Пользовательских источников данных нет."},
    {120, L"системных источников данных нет."},
    {121, L"Количество источников данных: "},
    {122, L"Выход"},
    {123, L"Не удалось подключиться к источнику данных %s, пользователь %s\n"},
    {124, L"Подключено к источнику данных %s, пользователь %s\n"},
    {125, L"Отключено от источника данных %s\n"},
    {126, L"Подключено к источнику данных %s\n"},
    {127, L"Не удалось подключиться к источнику данных %s\n"},
    {128,
     L"HELP - список поддерживаемых команд\n"
     L"HELP <команда> - справка по команде\n"},
    {129, L"Затронуто строк: %u."},
    {130, L"Строки не затронуты."},
    {131, L"Подключено к '%s'\n"},
    {132, L"Не удалось подключиться к '%s'\n"},
    {133, L"Отключено от '%s'"},
    {134, L"Запрос не выполнен, он не завершён символом ';': %s\n"},
    {135, L"Столбец '%s' (длинный текст или двоичные данные) пропущен; его выводит -lc.\n"},
    {136, L"sqlterm " VELA_BANNER_VERSION L" (vela)\nДиспетчер драйверов ODBC %s\n"},
    {137, L"Команда клиента не поддерживается: %s (%s:%u)\n"},
    {138, L"COPY FROM stdin пока не поддерживается: пропущено строк данных: %u, таблица %s (%s:%u)\n"},
    {139, L"Слишком глубокая вложенность файлов сценариев: %s (%s:%u)\n"},
    {140, L"Файл сценария включает сам себя: %s (%s:%u)\n"},
    {141, L"Драйвер не вернул управление через 3 секунды после отмены запроса: sqlterm завершается.\n"},
    {142, L"Недопустимый параметр '%s'"},
    {143, L"Параметр '%s' указан более одного раза"},
    {144, L"Аргумент %u не является параметром"},
    {145, L"Справка по запуску: sqlterm --help"},
    {146, L"Папка истории '%s' доступна не только вам: история не сохраняется.\n"},
    {148, L"Таблица '%s' не найдена.\n"},
    {149, L"Загружено строк: %s. Строк с ошибками: %s."},
    {150, L"Строка не загружена (%s:%u): %s\n"},
    {151, L"COPY не выполнен: %s (%s:%u)\n"},
    {152, L"%s строк, %s строк/с"},
    {153, L"ожидалось значений: %u, найдено: %u"},
    {154, L"поле в кавычках не закрыто"},
    {155, L"Записано строк: %s."},
    {156, L"COPY не выполнен: %s\n"},
    {157, L"Этот драйвер держит результат целиком в памяти, и процесс занял уже %u МиБ; %s в строке подключения включает потоковое чтение.\n"},
    {158, L"Загружено строк: %s. Строк с ошибками: %s. Пропущено строк файла: %s."},
    {159, L"заголовок повреждён: %s"},
    {160, L"Соединение потеряно: загрузка остановлена. Последний подтверждённый пакет: %s.\n"},
    {161, L"Не зафиксирован: %s.\n"},
    {162, L"Исход неизвестен (ответа на фиксацию не было): %s.\n"},
    {163, L"пакет %s (строки %u - %u)"},
    {164, L"нет"},
    {165, L"Незавершённая транзакция отменена.\n"},
    {166, L"Инструкция не отправлена: байты в %s:%u не являются допустимым текстом, и этой базе данных их нельзя передать без изменений\n"},
    {170, L"Команды клиента, каждая в начале запроса:\n"},
    {171,
     L"\\d[S]             таблицы и представления (S: и системные объекты)\n"
     L"\\d <таблица>      таблица: столбцы с типом, NULL и значением по умолчанию; индексы, ключи, проверки\n"},
    {172, L"\\dt[S] [<таблица>] таблицы\n"},
    {173, L"\\c <база данных>  подключиться заново, к другой базе данных\n"},
    {174, L"\\i <файл>         выполнить файл сценария (\\ir: рядом с выполняемым сценарием; MySQL: source <файл>)\n"},
    {175, L"\\timing [on | off]  время выполнения в итоговой строке (on; без значения: on)\n"},
    {176, L"\\q                завершить сеанс, как EXIT и QUIT\n"},
    {177, L"\\?                этот список\n"},
    {178, L"Команды: %s; подробнее - HELP <команда>.\n"},
    {179, L"\\conninfo         подключение: источник данных, драйвер, СУБД и её версия, пользователь\n"},
    {180, L" или "},
    {181, L"\\copy <таблица> FROM | TO <файл>  строки между таблицей (или запросом) и файлом клиента\n"},
    {182, L"\\restrict <ключ>  принимается и пропускается, как в сценариях выгрузки (также \\unrestrict)\n"},
    {183, L"Строки до строки %u в таблице; продолжить с этого места: \\copy … FROM '%s' WITH (…, SKIP %u)\n"},
    {184, L"\\set [<имя> [<значение>]]  переменные и настройки, или задать одну (MULTILINE, ON_ERROR_STOP: on | off)\n"},
    {185, L"\\unset <имя>      забыть переменную (настройка выключается)\n"},
    {186, L"\\pset [<имя> [<значение>]]  format <имя> | null <текст> | border 0..2 | pager on | off | always\n"},
    {187, L"\\x [on | off | auto]  строки по столбцу в строке (auto: когда шире терминала)\n"},
    {188, L"\\encoding [<имя>]  кодировка терминала (задаётся локалью)\n"},
    {189, L"Неизвестная настройка '%s' команды %s.\n"},
    {190, L"Недопустимое значение '%s' для %s.\n"},
    {191, L"Недопустимое имя переменной '%s': только буквы, цифры и '_'.\n"},
    {192, L"%s: нужно имя.\n"},
    {193, L"Кодировка '%s' - не кодировка терминала, %s: она следует локали (LANG, LC_ALL).\n"},
    {194, L"Файл запуска '%s' не читается: это должен быть обычный файл владельца, который группа и остальные не могут изменить, в такой же папке.\n"},
    {195, L"Файл запуска записан: %s\n"},
    {196, L"Файл запуска '%s' уже есть и оставлен как есть.\n"},
    {197,
     L"-- Файл запуска sqlterm. Читается, когда sqlterm запускается в терминале; никогда для -q, -qf,\n"
     L"-- -qi или ввода из канала, если его не называет -rc:<файл>; -norc его пропускает. Каждая строка -\n"
     L"-- такая, какую принимает приглашение: настройка, переменная, любая команда или запрос. Строка\n"
     L"-- с ошибкой сообщается с файлом:строкой, и строки после неё выполняются.\n"
     L"\n"
     L"-- Запрос выполняется, когда строка кончается на \";\" (как -ml); без этого файла выключено.\n"
     L"\\set MULTILINE on\n"
     L"\n"
     L"-- Сценарий останавливается на первой ошибке (как -oe).\n"
     L"-- \\set ON_ERROR_STOP on\n"
     L"\n"
     L"-- Как выводятся строки: padded (по умолчанию), aligned, vertical, json, jsonl, markdown, csv, tsv.\n"
     L"-- \\pset format aligned\n"
     L"-- \\pset null '(null)'\n"
     L"-- \\pset border 2\n"
     L"-- \\pset pager on\n"
     L"-- Строки по столбцу в строке, когда строка шире терминала.\n"
     L"-- \\x auto\n"
     L"-- \\timing off\n"},
    {198, L"Файл запуска '%s' не читается: %s\n"},
    {199, L"Файл запуска '%s' не записывается: %s\n"},
    {200, L"По-прежнему подключено к '%s'.\n"},
    {201,
     L"\\if <условие>     строки до \\elif, \\else или \\endif выполняются, когда оно true, on, yes или 1\n"
     L"                  (или :{?имя}: переменная задана); затем \\elif <условие>, \\else, \\endif\n"},
    {202, L"%s: '%s' - не логическое значение (true или false, on или off, yes или no, 1 или 0)"},
    {203, L"%s: нет открытого блока \\if"},
    {204, L"%s: у блока \\if уже был \\else"},
    {205, L"\\if без \\endif (%s:%u)\n"},
    {240, L"Таблица \"%s\""},
    {241, L"Индексы:"},
    {242, L"Ограничения внешнего ключа:"},
    {243, L"Ограничения-проверки:"},
    {244, L"\\dv[S] [<представление>] представления\n"},
    {245, L"\\di[S] [<таблица>] индексы таблиц\n"},
    {246, L"\\dn[S]            схемы\n"},
    {247, L"\\df[S]            процедуры и функции\n"},
    {248,
     L"\\d[S+] - таблицы и представления; S: и системные объекты\n"
     L"\\d[+] <таблица> - таблица: её столбцы с типом, NULL и значением по умолчанию (+: и их описания),\n"
     L"затем первичный ключ и индексы, внешние ключи и ограничения-проверки\n"},
    {249, L"\\dt[S+] [<шаблон>] - таблицы с подходящими именами (* и ? - подстановочные знаки); S: и системные таблицы\n"},
    {250, L"\\dv[S+] [<шаблон>] - представления с подходящими именами (* и ? - подстановочные знаки); S: и системные\n"},
    {251, L"\\di[S+] [<шаблон>] - индексы таблиц с подходящими именами; S: и системных таблиц\n"},
    {252, L"\\dn[S+] - схемы (MySQL и MariaDB: базы данных); S: и системные схемы\n"},
    {253, L"\\df[S+] - процедуры и функции; S: и системные\n"},
    {340, L"\\s [<файл>]       история введённого, каждая инструкция - одна запись (или в <файл>)\n"},
    {341, L"История записана в '%s'.\n"},
    {342, L"Таблица %s создана."},
    {343, L"Столбец %s таблицы %s расширен до %s для строки %u."},
    {344, L"Строке %u нужны более широкие типы столбцов: таблица %s создаётся заново, и загрузка начинается снова."},
    {345, L"список столбцов не сочетается с CREATE"},
    {346, L"эта база данных фиксирует открытую транзакцию, прежде чем создать таблицу: CREATE - только вне транзакции"},
    {390, L"Отвергнутые записи записаны в %s: %s."},
    {391, L"Достигнут MAX_ERRORS %s: загрузка остановлена на строке %u.\n"},
    {392, L"Строки до строки %u в таблице или отвергнуты; продолжить после неё: \\copy … FROM '%s' WITH (…, SKIP %u)\n"},
    {393, L"Прервано: загрузка остановлена.\n"},
    {394, L"REJECTS принимает записи файла, а не строки запроса"},
    {395, L"Строк взято: %s; строк загружено и отклонено: %s: число строк различается."},
    {396, L"Заданий загрузки: %u, на %s."},
    {397, L"Задание загрузки %u потеряло соединение (%s); его незафиксированные строки переданы другим заданиям."},
    {398, L"Таблица %s: соединение с целью потеряно; её строки копируются заново на %s."},
    {347, L"не объект JSON: %s"},
    {348, L"ключу \"%s\" не соответствует ни один столбец таблицы"},
    {349, L"не удалось прочитать стандартный ввод: %s"},
    {350, L"Строки до строки %u в таблице; продолжить с этого места: \\copy … FROM pstdin WITH (…, SKIP %u)\n"},
    {360, L"Таблица %s: прочитано строк %s, записано %s за %s с; строк в источнике %s, в целевой базе %s."},
    {361, L"Таблица %s НЕ СКОПИРОВАНА: прочитано строк %s, записано %s за %s с; строк в источнике %s, в целевой базе %s."},
    {362, L"Таблица %s не скопирована: %s\n"},
    {363, L"Таблиц скопировано: %u. Таблиц с ошибками: %u."},
    {364, L"Не скопировано: %s %s."},
    {365, L"представление"},
    {366, L"процедура"},
    {367, L"функция"},
    {368, L"триггер"},
    {369, L"подпрограмма"},
    {370, L"Таблицы не скопированы: в источнике нет таблицы %s\n"},
    {371, L"Таблицы не скопированы: в источнике нет таблиц для копирования\n"},
    {372, L"Таблицы не скопированы: %s\n"},
    {373, L"число строк различается"},
    {374, L"Не скопировано: внешний ключ %s таблицы %s, чья таблица %s не копируется."},
    {375, L"Не скопировано: %s таблицы %s."},
    {440, L"Повторено %u раз(а): %s."},
    {441, L"Повторено один раз: %s."},
    {442, L"Повторов пакетов: %s."},
    {443, L"сбой сериализации"},
    {444, L"взаимоблокировка"},
    {445, L"конфликт сертификации"},
    {446, L"узел кластера не готов"},
    {447, L"соединение потеряно"},
    {220, L"Не удалось открыть '%s' для вывода: %s\n"},
    {221, L"Не удалось запустить команду '%s'.\n"},
    {222, L"Не удалось записать в '%s': %s\n"},
    {223, L"Команда '%s' завершилась с кодом %d.\n"},
    {224, L"Буфер запроса пуст.\n"},
    {225, L"Нечего выполнять: буфер запроса пуст, и ни один запрос ещё не выполнялся.\n"},
    {226, L"\\gset: запрос не вернул ни одной строки; переменные не заданы.\n"},
    {227, L"\\gset: запрос вернул больше одной строки; переменные не заданы.\n"},
    {228, L"\\gset: запрос не вернул строк, из которых можно взять переменные.\n"},
    {229, L"%s (каждые %s с)\n"},
    {230, L"\\watch: '%s' - не число секунд больше 0.\n"},
    {231, L"Редактор '%s' завершился с кодом %d; буфер запроса не изменён.\n"},
    {232, L"Не удалось использовать файл '%s' для редактирования: %s\n"},
    {233, L"Буфер запроса очищен.\n"},
    {234, L"\\o [<файл> | |<команда>]  строки следующих запросов в файл или команду (\\o без аргумента: обратно)\n"},
    {235, L"\\g [<файл> | |<команда>]  выполнить буфер запроса (или последний запрос), его строки один раз в другое место\n"},
    {236, L"\\gx [<файл> | |<команда>] то же, строки в вертикальном виде\n"},
    {237, L"\\gset [<префикс>] выполнить буфер запроса; столбцы его единственной строки становятся переменными\n"},
    {238, L"\\watch [<секунды>] выполнять последний запрос каждые 2 секунды (или как указано) до Ctrl-C\n"},
    {239, L"\\e [<файл>]       изменить буфер запроса (или последний запрос) в $VISUAL или $EDITOR; выполнить, если он кончается \";\"\n"},
    {300, L"\\r                очистить буфер запроса\n"},
    {301, L"\\p                вывести буфер запроса (или последний запрос)\n"},
    {320, L"\\refresh          заново получить таблицы и столбцы для дополнения по Tab\n"},
    {420, L"Хост %s отказал: %s\n"},
    {421, L"Хост %s не подходит: он не %s.\n"},
    {422, L"Хост %s не может сообщить, %s ли он.\n"},
    {423, L"Подключённый хост: %s\n"},
    {424, L"Не подошёл ни один хост (испробовано: %u).\n"},
    {425, L"Соединение потеряно; выполнено переподключение к %s. Запрос повторно не выполнялся.\n"},
    {426, L"Соединение потеряно; ни один хост не доступен.\n"},
    {427, L"Неверный список хостов '%s'.\n"},
};

constexpr string_table table{english, std::size(english), russian, std::size(russian)};

} // namespace

const string_table& strings() { return table; }

} // namespace vela::terminal
