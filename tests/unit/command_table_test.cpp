// The command table: every word it knows leads to one command, aliases to the same one, and
// HELP, \?, Tab completion and the README's lists are what it says.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "Terminal/handler.h"
#include "Terminal/input/prompt.h"
#include "Terminal/strings.h"
#include "vela/utf.h"
#include "vela/wstr.h"

using namespace vela;
using namespace vela::terminal;

namespace {

// The entry a word names, keyword or client form; null when none.
const command_entry* named(const std::wstring& word) {
  if (const command_entry* c = client_command(word)) return c;
  return keyword_command(word);
}

// The strings of one language only, whatever the locale.
class one_language {
 public:
  explicit one_language(bool russian) {
    const string_table& t = strings();
    only_ = russian ? string_table{t.russian, t.russian_count, t.russian, t.russian_count}
                    : string_table{t.english, t.english_count, t.english, t.english_count};
    set_string_table(&only_);
  }
  ~one_language() { set_string_table(&strings()); }

 private:
  string_table only_{};
};

} // namespace

TEST(CommandTable, EveryWordNamesOneCommand) {
  std::set<std::wstring> seen;
  for (const command_entry& c : command_table()) {
    EXPECT_TRUE(c.run != nullptr);
    EXPECT_FALSE(c.keywords.empty() && c.client_forms.empty());
    EXPECT_FALSE(c.arguments.empty());  // the README lists each form of use
    for (std::wstring_view w : c.keywords) EXPECT_TRUE(seen.insert(to_upper_copy(w)).second) << wide_to_utf8(std::wstring(w));
    for (std::wstring_view w : c.client_forms) EXPECT_TRUE(seen.insert(to_upper_copy(w)).second) << wide_to_utf8(std::wstring(w));
  }
}

// Aliases and letter cases reach the entry of the command's first word; a semicolon after
// a keyword command is no part of it.
TEST(CommandTable, AliasesDispatchToTheirCommand) {
  const struct {
    std::wstring line;
    std::wstring command;  // the first word of the entry expected; empty: no command
  } rows[] = {
      {L"quit", L"EXIT"},          {L"Quit ;", L"EXIT"},         {L"exit;", L"EXIT"},
      {L"connect \"x;y\"", L"CONNECT"}, {L"listing", L""},       {L"select 1", L""},
  };
  for (const auto& r : rows) {
    const command_entry* c = keyword_command(r.line);
    EXPECT_EQ(c ? std::wstring(c->keywords.front()) : std::wstring(), r.command) << wide_to_utf8(r.line);
  }
  const struct {
    std::wstring word, same_as;
  } client_rows[] = {
      {L"\\quit", L"\\q"},     {L"\\q", L"EXIT"},        {L"\\connect", L"\\c"},
      {L"\\d+", L"\\d"},       {L"\\dt+", L"\\dt"},      {L"\\include", L"\\i"},
      {L"\\ir", L"\\i"},       {L"\\include_relative", L"\\i"}, {L"SOURCE", L"\\i"},
      {L"\\unrestrict", L"\\restrict"},
  };
  for (const auto& r : client_rows) {
    ASSERT_NE(named(r.word), nullptr) << wide_to_utf8(r.word);
    EXPECT_EQ(named(r.word), named(r.same_as)) << wide_to_utf8(r.word);
  }
  for (const wchar_t* none : {L"\\Q", L"\\X", L"\\", L"quit"}) EXPECT_EQ(client_command(none), nullptr) << wide_to_utf8(none);
}

// EXIT and its aliases end the session, typed or as client commands; another word does not.
TEST(CommandTable, EndingWordsStopTheHandler) {
  const struct {
    std::wstring line;
    bool stops;
  } rows[] = {{L"exit", true}, {L"QUIT;", true}, {L"\\q", true}, {L"\\quit;", true}, {L"\\timing", false}, {L"help", false}};
  for (const auto& r : rows) {
    terminal_options options;
    TTermOdbcHndlr handler{&options};
    (void)handler.handle_line(r.line);
    EXPECT_EQ(handler.stopped(), r.stops) << wide_to_utf8(r.line);
  }
}

TEST(CommandTable, HelpOfACommand) {
  one_language english(false);
  const struct {
    std::wstring word;
    std::wstring text;  // empty: no such command
  } rows[] = {
      {L"quit", str(string_id::exit_help)}, {L"Exit", str(string_id::exit_help)},
      {L"disconnect", L"DISCONNECT"},       {L"help", str(string_id::help_help)},
      {L"\\q", str(string_id::exit_help)},  {L"nope", L""},
      {L"\\copy", str(string_id::copy_list_line)}, {L"\\nope", L""},
  };
  for (const auto& r : rows) {
    const command_entry* c = help_entry(r.word);
    EXPECT_EQ(c ? help_text(*c) : std::wstring(), r.text) << wide_to_utf8(r.word);
  }
  EXPECT_EQ(command_names(), L"CONNECT, DISCONNECT, LIST, EXIT, HELP");
}

// The \? text, line by line from the entries, in both languages.
TEST(CommandTable, ClientCommandListInBothLanguages) {
  const std::wstring english =
      L"Client commands, each at the start of a statement:\n"
      L"\\d[S]             tables and views (S: also the system objects)\n"
      L"\\d <table>        a table: columns with type, nullable and default; indexes, keys, checks\n"
      L"\\dt[S] [<table>]  tables\n"
      L"\\dv[S] [<view>]   views\n"
      L"\\di[S] [<table>]  indexes of tables\n"
      L"\\dn[S]            schemas\n"
      L"\\df[S]            procedures and functions\n"
      L"\\c <database>     connect again, to another database\n"
      L"\\conninfo         the connection: data source, driver, DBMS and its version, user\n"
      L"\\i <file>         run a script file (\\ir: beside the running script; MySQL: source <file>)\n"
      L"\\copy <table> FROM | TO <file>  rows between a table (or a query) and a client file\n"
      L"\\restrict <key>   accepted and skipped, as in dump scripts (also \\unrestrict)\n"
      L"\\s [<file>]       the history of what was typed, each statement one entry (or into <file>)\n"
      L"\\timing [on | off]  execution times in the summary line (on; alone: on)\n"
      L"\\set [<name> [<value>]]  list the variables and settings, or set one (MULTILINE, ON_ERROR_STOP: on | off)\n"
      L"\\unset <name>     forget a variable (a setting goes off)\n"
      L"\\pset [<name> [<value>]]  format <name> | null <text> | border 0..2 | pager on | off | always\n"
      L"\\x [on | off | auto]  rows one column a line (auto: when wider than the terminal)\n"
      L"\\encoding [<name>]  the terminal's encoding (set by the locale)\n"
      L"\\refresh          fetch the tables and columns that Tab completes again\n"
      L"\\if <condition>   the lines up to \\elif, \\else or \\endif run when it is true, on, yes or 1\n"
      L"                  (or :{?name}, a variable is set); then \\elif <condition>, \\else, \\endif\n"
      L"\\o [<file> | |<command>]  the rows of the statements after it to a file or a command (\\o alone: back)\n"
      L"\\g [<file> | |<command>]  run the query buffer (or the last statement), its rows once elsewhere\n"
      L"\\gx [<file> | |<command>] the same, its rows in the vertical layout\n"
      L"\\gset [<prefix>]  run the query buffer; the columns of its one row become variables\n"
      L"\\watch [<seconds>] run the last statement every 2 seconds (or as given) until Ctrl-C\n"
      L"\\e [<file>]       edit the query buffer (or the last statement) in $VISUAL or $EDITOR; run when it ends with \";\"\n"
      L"\\r                clear the query buffer\n"
      L"\\p                print the query buffer (or the last statement)\n"
      L"\\q                end the session, as EXIT and QUIT do\n"
      L"\\?                this list\n"
      L"Commands: CONNECT, DISCONNECT, LIST, EXIT, HELP; HELP <command> tells more.\n";
  const std::wstring russian =
      L"Команды клиента, каждая в начале запроса:\n"
      L"\\d[S]             таблицы и представления (S: и системные объекты)\n"
      L"\\d <таблица>      таблица: столбцы с типом, NULL и значением по умолчанию; индексы, ключи, проверки\n"
      L"\\dt[S] [<таблица>] таблицы\n"
      L"\\dv[S] [<представление>] представления\n"
      L"\\di[S] [<таблица>] индексы таблиц\n"
      L"\\dn[S]            схемы\n"
      L"\\df[S]            процедуры и функции\n"
      L"\\c <база данных>  подключиться заново, к другой базе данных\n"
      L"\\conninfo         подключение: источник данных, драйвер, СУБД и её версия, пользователь\n"
      L"\\i <файл>         выполнить файл сценария (\\ir: рядом с выполняемым сценарием; MySQL: source <файл>)\n"
      L"\\copy <таблица> FROM | TO <файл>  строки между таблицей (или запросом) и файлом клиента\n"
      L"\\restrict <ключ>  принимается и пропускается, как в сценариях выгрузки (также \\unrestrict)\n"
      L"\\s [<файл>]       история введённого, каждая инструкция - одна запись (или в <файл>)\n"
      L"\\timing [on | off]  время выполнения в итоговой строке (on; без значения: on)\n"
      L"\\set [<имя> [<значение>]]  переменные и настройки, или задать одну (MULTILINE, ON_ERROR_STOP: on | off)\n"
      L"\\unset <имя>      забыть переменную (настройка выключается)\n"
      L"\\pset [<имя> [<значение>]]  format <имя> | null <текст> | border 0..2 | pager on | off | always\n"
      L"\\x [on | off | auto]  строки по столбцу в строке (auto: когда шире терминала)\n"
      L"\\encoding [<имя>]  кодировка терминала (задаётся локалью)\n"
      L"\\refresh          заново получить таблицы и столбцы для дополнения по Tab\n"
      L"\\if <условие>     строки до \\elif, \\else или \\endif выполняются, когда оно true, on, yes или 1\n"
      L"                  (или :{?имя}: переменная задана); затем \\elif <условие>, \\else, \\endif\n"
      L"\\o [<файл> | |<команда>]  строки следующих запросов в файл или команду (\\o без аргумента: обратно)\n"
      L"\\g [<файл> | |<команда>]  выполнить буфер запроса (или последний запрос), его строки один раз в другое место\n"
      L"\\gx [<файл> | |<команда>] то же, строки в вертикальном виде\n"
      L"\\gset [<префикс>] выполнить буфер запроса; столбцы его единственной строки становятся переменными\n"
      L"\\watch [<секунды>] выполнять последний запрос каждые 2 секунды (или как указано) до Ctrl-C\n"
      L"\\e [<файл>]       изменить буфер запроса (или последний запрос) в $VISUAL или $EDITOR; выполнить, если он кончается \";\"\n"
      L"\\r                очистить буфер запроса\n"
      L"\\p                вывести буфер запроса (или последний запрос)\n"
      L"\\q                завершить сеанс, как EXIT и QUIT\n"
      L"\\?                этот список\n"
      L"Команды: CONNECT, DISCONNECT, LIST, EXIT, HELP; подробнее - HELP <команда>.\n";
  for (bool ru : {false, true}) {
    one_language language(ru);
    EXPECT_EQ(client_commands_help(), ru ? russian : english);
  }
}

// Every client command has its line in the \? list, and HELP explains it.
TEST(CommandTable, EveryClientCommandIsListed) {
  one_language language(false);
  for (const command_entry& c : command_table()) {
    if (c.client_forms.empty()) continue;
    const std::wstring form(c.client_forms.front());
    EXPECT_NE(c.list_id, 0u) << wide_to_utf8(form);
    if (form[0] != L'\\') continue;
    const command_entry* found = help_entry(form);
    EXPECT_EQ(found, &c) << wide_to_utf8(form);
    if (found) {
      EXPECT_FALSE(help_text(*found).empty()) << wide_to_utf8(form);
    }
  }
}

TEST(CommandTable, CompletionOfCommandWords) {
  terminal_options options;
  TTermOdbcHndlr handler{&options};
  const std::unique_ptr<completion> made = handler.make_completion();
  completion& words = *made;
  using list = std::vector<std::wstring>;
  const struct {
    std::wstring before;
    list expected;
  } rows[] = {
      {L"\\dt", {L"\\dt", L"\\dt+", L"\\dtS", L"\\dtS+"}},
      {L"\\q", {L"\\q", L"\\quit"}},
      {L"\\c", {L"\\c", L"\\connect", L"\\conninfo", L"\\copy"}},
      {L"\\x", {L"\\x"}},
      {L"\\uns", {L"\\unset"}},
      {L"QUIT ", {}},
      {L"help l", {L"list"}},
  };
  for (const auto& r : rows) {
    size_t start = 0;
    EXPECT_EQ(words.candidates(r.before, start), r.expected) << wide_to_utf8(r.before);
  }
}

namespace {

// The lines of the README's indented block after the line beginning with heading: each
// line's command and arguments, and its note in parentheses.
std::vector<std::pair<std::wstring, std::wstring>> readme_block(const std::string& heading) {
  std::ifstream in(std::string(VELA_SOURCE_DIR) + "/README.md");
  std::string line;
  while (std::getline(in, line) && line.rfind(heading, 0) != 0) {
  }
  std::vector<std::pair<std::wstring, std::wstring>> out;
  std::getline(in, line);  // the blank line
  while (std::getline(in, line) && line.rfind("    ", 0) == 0) {
    const size_t note = line.find("   (", 4);
    std::string form = line.substr(4, note == std::string::npos ? std::string::npos : note - 4);
    form.erase(form.find_last_not_of(' ') + 1);
    out.emplace_back(utf8_to_wide(form), note == std::string::npos ? L"" : utf8_to_wide(line.substr(note)));
  }
  return out;
}

// The README's list and the table: the same forms of use, each alias named in the notes of
// its command.
void expect_listed(const std::string& heading, bool client) {
  const auto block = readme_block(heading);
  std::vector<std::wstring> forms, listed;
  for (const auto& [form, note] : block) listed.push_back(form);
  for (const command_entry& c : command_table()) {
    const std::vector<std::wstring_view>& words = client ? c.client_forms : c.keywords;
    if (words.empty()) continue;
    std::wstring notes;
    for (std::wstring_view a : c.arguments) {
      const std::wstring form = std::wstring(words.front()) + (a.empty() ? L"" : L" " + std::wstring(a));
      forms.push_back(form);
      for (const auto& [f, note] : block)
        if (f == form) notes += note;
    }
    for (size_t i = 1; i < words.size(); ++i)
      EXPECT_NE(notes.find(words[i]), std::wstring::npos) << wide_to_utf8(std::wstring(words[i]));
  }
  std::sort(listed.begin(), listed.end());
  std::sort(forms.begin(), forms.end());
  EXPECT_EQ(listed, forms) << heading;
}

} // namespace

TEST(CommandTable, ReadmeListsEveryCommand) {
  expect_listed("Commands at the prompt", false);
  expect_listed("Client commands, at the prompt", true);
}
