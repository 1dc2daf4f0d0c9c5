#include "Terminal/input/sql_split.h"

#include <gtest/gtest.h>

#include <cwchar>

#include "Terminal/session/options.h"

using namespace vela::terminal;
using list = std::vector<std::wstring>;

namespace {

list split(const std::wstring& text) {
  list out;
  split_statements(text, out);
  return out;
}

} // namespace

TEST(SplitStatements, CasesThatSingleQuotesAloneAlreadySplit) {
  EXPECT_EQ(split(L"select 1; select 2"), (list{L"select 1;", L"select 2"}));
  EXPECT_EQ(split(L"select 'a;b'"), (list{L"select 'a;b'"}));
  EXPECT_EQ(split(L"select 'it''s;'; x"), (list{L"select 'it''s;';", L"x"}));
  EXPECT_EQ(split(L"A;;B"), (list{L"A;", L"B"}));
  EXPECT_EQ(split(L"select 1;\n"), (list{L"select 1;"}));
  EXPECT_EQ(split(L"select 1;\r\n\r\n"), (list{L"select 1;"}));
  EXPECT_TRUE(split(L";").empty());
  EXPECT_TRUE(split(L"").empty());
}

TEST(SplitStatements, QuotedIdentifiersOfEveryKind) {
  EXPECT_EQ(split(L"create table \"T;x\"(\"a\"\"b;\" int);select 1"),
            (list{L"create table \"T;x\"(\"a\"\"b;\" int);", L"select 1"}));
  EXPECT_EQ(split(L"select [a;b] from [t];x"), (list{L"select [a;b] from [t];", L"x"}));
  // Brackets nest as array subscripts do.
  EXPECT_EQ(split(L"select a[b[1]];x"), (list{L"select a[b[1]];", L"x"}));
  EXPECT_EQ(split(L"select `a;b`, `c``;d`;x"), (list{L"select `a;b`, `c``;d`;", L"x"}));
  // E'…' takes backslash escapes; a plain literal does not.
  EXPECT_EQ(split(L"select E'a\\';b', e'\\\\';x"), (list{L"select E'a\\';b', e'\\\\';", L"x"}));
  EXPECT_EQ(split(L"select 'a\\';b';x"), (list{L"select 'a\\';", L"b';x"}));
  EXPECT_EQ(split(L"select type'x;y';z"), (list{L"select type'x;y';", L"z"}));
}

TEST(SplitStatements, Comments) {
  // Comments before a statement are not sent with it; those inside it are.
  EXPECT_EQ(split(L"-- Name: f(i integer); Type: FUNCTION\nselect 1; -- done; really\n  select 2 /* two; */;"),
            (list{L"select 1;", L"select 2 /* two; */;"}));
  EXPECT_EQ(split(L"/* a; */ /* b */ \n\tselect 1 -- c;\n from t;"), (list{L"select 1 -- c;\n from t;"}));
  EXPECT_EQ(split(L"select 1 /* a; /* nested; */ still inside; */ ; select 2"),
            (list{L"select 1 /* a; /* nested; */ still inside; */ ;", L"select 2"}));
  EXPECT_EQ(split(L"select 1-2;select 3 / 4;select 5--6;\n"), (list{L"select 1-2;", L"select 3 / 4;", L"select 5--6;"}));
  // A quote inside a comment and a comment opener inside a quote change nothing.
  EXPECT_EQ(split(L"select 1 -- it's\n; select '--' || '/*'; x"), (list{L"select 1 -- it's\n;", L"select '--' || '/*';", L"x"}));
  // Comments only: not a statement; a comment before a statement goes with it.
  EXPECT_EQ(split(L"select 1; -- the end\n"), (list{L"select 1;"}));
  EXPECT_EQ(split(L"/* a */;\n-- b\n;select 1;/**/"), (list{L"select 1;"}));
  EXPECT_TRUE(split(L"-- nothing else").empty());
}

TEST(SplitStatements, DollarQuotesAndParameters) {
  const std::wstring f =
      L"create function f(i integer) returns integer as $$\nbegin\n  return i + 1; -- $1 is i; 'x\nend;\n$$ language plpgsql;";
  EXPECT_EQ(split(f + L"select f(1);"), (list{f, L"select f(1);"}));
  const std::wstring g = L"do $body$ begin raise notice '$$;'; perform $x$;$x$; end $body$;";
  EXPECT_EQ(split(g + L"select 2"), (list{g, L"select 2"}));
  // $1 is a parameter, a$b$ is one name, $ alone is a character.
  EXPECT_EQ(split(L"select $1; select a$b$; select $ ;x"), (list{L"select $1;", L"select a$b$;", L"select $ ;", L"x"}));
  EXPECT_EQ(split(L"select $_1$a;b$_1$;x"), (list{L"select $_1$a;b$_1$;", L"x"}));
  // A different tag does not close the quote.
  EXPECT_EQ(split(L"select $a$ $b$; $a$;x"), (list{L"select $a$ $b$; $a$;", L"x"}));
}

TEST(SplitStatements, TriggerBodies) {
  const std::wstring t1 =
      L"CREATE TRIGGER tr AFTER INSERT ON t BEGIN insert into log values(new.a); insert into log values(-new.a); END;";
  const std::wstring t2 =
      L"create temp trigger if not exists tr2 before update on t for each row when new.a > 0\nbegin\n"
      L"  update u set b = case when new.a > 1 then 'big;' else case new.a when 1 then 'one' end end;\n"
      L"  insert into log(\"end\", end) values(1, 2);\nend;";
  EXPECT_EQ(split(t1 + L"\n" + t2 + L"\nselect 1;"), (list{t1, t2, L"select 1;"}));
  const std::wstring t3 = L"Create Temporary Trigger t3 after delete on t begin select 1; end;";
  EXPECT_EQ(split(t3 + L"x"), (list{t3, L"x"}));
  // Without BEGIN (as PostgreSQL writes them) a trigger ends at its ";".
  EXPECT_EQ(split(L"create trigger tr before insert on t for each row execute function f();select 1"),
            (list{L"create trigger tr before insert on t for each row execute function f();", L"select 1"}));
  // The words only count at the start of a statement and outside quotes.
  EXPECT_EQ(split(L"select 'create trigger' begin; select 2"), (list{L"select 'create trigger' begin;", L"select 2"}));
  EXPECT_EQ(split(L"create table trigger_log(begin_at int);select 2"),
            (list{L"create table trigger_log(begin_at int);", L"select 2"}));
}

TEST(SplitStatements, BeginAtomicBodies) {
  const std::wstring p =
      L"CREATE OR REPLACE PROCEDURE p(a int) LANGUAGE sql BEGIN ATOMIC insert into t values(a); "
      L"select case when a > 0 then 1 end; END;";
  EXPECT_EQ(split(p + L"call p(1);"), (list{p, L"call p(1);"}));
  const std::wstring empty = L"create function f() returns int language sql begin atomic end;";
  EXPECT_EQ(split(empty + L"x"), (list{empty, L"x"}));
  // BEGIN alone is a transaction, not a block.
  EXPECT_EQ(split(L"begin; create table t(a int); commit;"),
            (list{L"begin;", L"create table t(a int);", L"commit;"}));
}

TEST(SplitStatements, UnterminatedTextRunsAsItStands) {
  EXPECT_EQ(split(L"select 1; select 'open;"), (list{L"select 1;", L"select 'open;"}));
  EXPECT_EQ(split(L"select 1; select $$ open; "), (list{L"select 1;", L"select $$ open;"}));
  EXPECT_EQ(split(L"select 1; /* open; "), (list{L"select 1;", L"/* open;"}));
  EXPECT_EQ(split(L"create trigger t after insert on u begin select 1; "),
            (list{L"create trigger t after insert on u begin select 1;"}));
  EXPECT_EQ(split(L"select E'\\"), (list{L"select E'\\"}));
  EXPECT_EQ(split(L"select 1 -"), (list{L"select 1 -"}));
}

// Text fed in pieces cut at every possible place gives the same ends as the whole text.
TEST(StatementScanner, PiecesCutAnywhereGiveTheSameEnds) {
  const std::wstring text =
      L"create trigger tr after insert on t begin update u set b = case when 1 then 2 end; end;"
      L"select $tag$a;$tag$, E'\\';', [x;], /* c; /* d; */ */ 1 -- e;\n;"
      L"select $$ $a$; $$; select 'x' ; create procedure p() begin atomic select 1; end;";
  auto ends_of = [](const std::wstring& whole, size_t piece) {
    std::vector<size_t> ends;
    statement_scanner scan;
    for (size_t have = std::min(piece, whole.size());; have = std::min(have + piece, whole.size())) {
      const std::wstring_view seen(whole.data(), have);
      for (size_t e; (e = scan.find_end(seen, have < whole.size())) != statement_scanner::npos;) {
        ends.push_back(e);
        scan.next_statement(e + 1);
      }
      if (have == whole.size()) break;
    }
    return ends;
  };
  const std::vector<size_t> whole = ends_of(text, text.size());
  ASSERT_EQ(whole.size(), 5u);
  for (size_t piece = 1; piece < 12; ++piece) EXPECT_EQ(ends_of(text, piece), whole) << piece;
}

// A script read a piece at a time is cut into exactly the statements of the whole text, with
// the leading comments, trimming and unterminated ends of the whole.
TEST(StatementSplitter, PiecesOfAnySizeGiveTheStatementsOfTheWhole) {
  const std::wstring texts[] = {
      L"-- lead; comment\n  select 1 ;\r\n/* c; */ select $tag$a;$tag$, E'\\';', [x;] -- e;\n;;"
      L"create trigger tr after insert on t begin update u set b = case when 1 then 2 end; end;\n"
      L"create function f() returns int as $$ begin return 1; end; $$ language plpgsql;"
      L"  -- only a comment;\n select 'open;",
      L"select 1; /* open; ",
      L"select 1;\n\n",
      L"x",
  };
  for (const auto& text : texts) {
    const list whole = split(text);
    for (size_t piece = 1; piece <= text.size(); ++piece) {
      list got;
      statement_splitter splitter(got);
      for (size_t at = 0; at < text.size(); at += piece) splitter.add(std::wstring_view(text).substr(at, piece));
      splitter.finish();
      EXPECT_EQ(got, whole) << piece;
    }
  }
}

TEST(StatementScanner, LineCommentStateForJoiningLines) {
  statement_scanner scan;
  std::wstring text = L"select 1 -- note";
  EXPECT_EQ(scan.find_end(text, true), statement_scanner::npos);
  EXPECT_TRUE(scan.in_line_comment());
  text += L"\nfrom t where a = '--";
  EXPECT_EQ(scan.find_end(text, true), statement_scanner::npos);
  EXPECT_FALSE(scan.in_line_comment());
  text += L"' as $$ x -- inside a body";
  scan.find_end(text, true);
  EXPECT_TRUE(scan.in_line_comment());
  text += L"\n y";
  scan.find_end(text, true);
  EXPECT_FALSE(scan.in_line_comment());
}

namespace {

using vela::odbc::script_dialect;
using item_kind = script_item::kind_type;

// Items as "S<line>:<text>" (statement), "C<line>:<text>" (client command) and
// "D<line>:<data lines>:<text>" (a COPY statement and its skipped data block).
std::string shown(const script_item& it) {
  std::string text(it.text.begin(), it.text.end());  // the cases are ASCII
  const std::string line = std::to_string(it.line) + ":";
  switch (it.kind) {
    case item_kind::client_command: return "C" + line + text;
    case item_kind::copy_data: return "D" + line + std::to_string(it.data_lines) + ":" + text;
    default: return "S" + line + text;
  }
}

// The text cut as a script arriving in pieces of the given size (the whole text at once
// when 0), or as lines of standard input.
std::vector<std::string> cut(script_dialect d, const std::wstring& text, size_t piece, bool as_lines = false) {
  std::vector<std::string> out;
  script_cutter cutter(!as_lines);
  cutter.set_dialect(d);
  const script_cutter::sink keep = [&out](script_item& it) {
    out.push_back(shown(it));
    return true;
  };
  if (as_lines) {
    for (size_t b = 0; b <= text.size();) {
      const size_t e = std::min(text.find(L'\n', b), text.size());
      cutter.add_line(std::wstring_view(text).substr(b, e - b), keep);
      b = e + 1;
    }
  } else {
    if (piece == 0) piece = text.size() + 1;
    for (size_t at = 0; at < text.size(); at += piece) cutter.add(std::wstring_view(text).substr(at, piece), keep);
  }
  cutter.finish(keep);
  return out;
}

struct script_case {
  const char* name;
  script_dialect dialect;
  const wchar_t* text;
  std::vector<std::string> items;
};

const std::wstring routine =
    L"CREATE DEFINER=`root`@`%` FUNCTION f(n INT) RETURNS INT\nBEGIN\n  DECLARE i INT DEFAULT 0;\n"
    L"  l: LOOP SET i = i + 1; IF i > n THEN LEAVE l; END IF; END LOOP l;\n"
    L"  WHILE i > 0 DO SET i = i - 1; END WHILE;\n  REPEAT SET i = i + 1; UNTIL i > 2 END REPEAT;\n"
    L"  CASE i WHEN 3 THEN SET i = CASE WHEN n > 0 THEN 1 ELSE 2 END; ELSE BEGIN END; END CASE;\n  RETURN i;\nEND;";

const script_case script_cases[] = {
    {"backslash escapes", script_dialect::mysql, L"select 'It\\'s; fine', \"a\\\";b\", '\\\\';\nselect 2;",
     {"S1:select 'It\\'s; fine', \"a\\\";b\", '\\\\';", "S2:select 2;"}},
    {"hash comments", script_dialect::mysql, L"# a; comment\nselect 1; # done; really\n", {"S2:select 1;"}},
    {"versioned comments are statements", script_dialect::mysql,
     L"/*!40101 SET @OLD=@@SQL_MODE, SQL_MODE='NO_AUTO_VALUE_ON_ZERO' */;\n/*!40014 SET FOREIGN_KEY_CHECKS=0 */;\n",
     {"S1:/*!40101 SET @OLD=@@SQL_MODE, SQL_MODE='NO_AUTO_VALUE_ON_ZERO' */;", "S2:/*!40014 SET FOREIGN_KEY_CHECKS=0 */;"}},
    {"comments do not nest", script_dialect::mysql, L"/* a /* b; */ select 1;", {"S1:select 1;"}},
    {"delimiter", script_dialect::mysql,
     L"DELIMITER //\nCREATE PROCEDURE purge_old() BEGIN UPDATE t SET a = a + 1; DELETE FROM t; END //\n"
     L"delimiter ;\nselect 1;",
     {"S2:CREATE PROCEDURE purge_old() BEGIN UPDATE t SET a = a + 1; DELETE FROM t; END", "S4:select 1;"}},
    {"delimiter of two dollars", script_dialect::mysql, L"DELIMITER $$\nCREATE PROCEDURE p() BEGIN SELECT '$'; END$$\nDELIMITER ;",
     {"S2:CREATE PROCEDURE p() BEGIN SELECT '$'; END"}},
    {"procedure body without delimiter", script_dialect::mysql,
     L"CREATE PROCEDURE purge_old() BEGIN UPDATE t SET a = a + 1; DELETE FROM t; END;\nselect 1;",
     {"S1:CREATE PROCEDURE purge_old() BEGIN UPDATE t SET a = a + 1; DELETE FROM t; END;", "S2:select 1;"}},
    {"END IF and other ENDs of their own", script_dialect::mysql, routine.c_str(),
     {"S1:" + std::string(routine.begin(), routine.end())}},
    {"trigger as a dump writes it", script_dialect::mysql,
     L"DELIMITER ;;\n/*!50003 CREATE*/ /*!50017 DEFINER=`root`@`localhost`*/ /*!50003 TRIGGER tr BEFORE INSERT ON t "
     L"FOR EACH ROW BEGIN\nIF NEW.a < 0 THEN SET NEW.a = 0; END IF;\nEND */;;\nDELIMITER ;\nselect 1;",
     {"S2:/*!50003 CREATE*/ /*!50017 DEFINER=`root`@`localhost`*/ /*!50003 TRIGGER tr BEFORE INSERT ON t FOR EACH ROW "
      "BEGIN\nIF NEW.a < 0 THEN SET NEW.a = 0; END IF;\nEND */",
      "S6:select 1;"}},
    {"versioned trigger without delimiter", script_dialect::mysql,
     L"/*!50003 CREATE*/ /*!50003 TRIGGER tr AFTER DELETE ON t FOR EACH ROW BEGIN IF 1 THEN DELETE FROM u; END IF; END */;x;",
     {"S1:/*!50003 CREATE*/ /*!50003 TRIGGER tr AFTER DELETE ON t FOR EACH ROW BEGIN IF 1 THEN DELETE FROM u; END IF; END */;",
      "S1:x;"}},
    {"a view is no body", script_dialect::mysql,
     L"/*!50001 CREATE ALGORITHM=UNDEFINED */\n/*!50013 DEFINER=`root`@`localhost` SQL SECURITY DEFINER */\n"
     L"/*!50001 VIEW `v` AS select 1 AS `begin` */;\nselect 2;",
     {"S1:/*!50001 CREATE ALGORITHM=UNDEFINED */\n/*!50013 DEFINER=`root`@`localhost` SQL SECURITY DEFINER */\n"
      "/*!50001 VIEW `v` AS select 1 AS `begin` */;",
      "S4:select 2;"}},
    {"source", script_dialect::mysql, L"source other.sql;\nselect 1;", {"C1:source other.sql", "S2:select 1;"}},
    {"empty statements", script_dialect::mysql, L";\n ; -- x\n# y\n;select 1;;", {"S4:select 1;"}},
    {"empty statements, generic", script_dialect::generic, L"select 1;;\n;/* c */;", {"S1:select 1;"}},
    {"client commands", script_dialect::generic, L"\\restrict K3y\nselect 1;\n  \\c chinook;\nselect\n2;\n\\x",
     {"C1:\\restrict K3y", "S2:select 1;", "C3:\\c chinook", "S4:select\n2;", "C6:\\x"}},
    {"a backslash inside a statement", script_dialect::generic, L"select 1,\n\\x;", {"S1:select 1,\n\\x;"}},
    {"copy blocks", script_dialect::generic,
     L"COPY public.t (a, b) FROM stdin;\n1\tx;y\n2\t\\N\n\\.\ncopy t from STDIN with (format csv);\n\\.\nselect 1;",
     {"D1:2:COPY public.t (a, b) FROM stdin;", "D5:0:copy t from STDIN with (format csv);", "S7:select 1;"}},
    {"copy block to the end", script_dialect::generic, L"COPY t FROM stdin;\n1\n2", {"D1:2:COPY t FROM stdin;"}},
    {"copy to stdout is sql", script_dialect::generic, L"COPY t TO stdout;\nselect 1;", {"S1:COPY t TO stdout;", "S2:select 1;"}},
};

} // namespace

// Every case cut as a whole, and in pieces cut at every place, gives the same items.
TEST(ScriptCutter, CasesOfEveryDialect) {
  for (const auto& c : script_cases) {
    EXPECT_EQ(cut(c.dialect, c.text, 0), c.items) << c.name;
    for (size_t piece = 1; piece < 9; ++piece) EXPECT_EQ(cut(c.dialect, c.text, piece), c.items) << c.name << " " << piece;
  }
}

// Standard input: a line break inside a literal, comment, body or COPY block is kept;
// elsewhere lines join with a blank, and the ";" is left out.
TEST(ScriptCutter, LinesOfStandardInput) {
  const struct {
    script_dialect dialect;
    const wchar_t* lines;
    std::vector<std::string> items;
  } cases[] = {
      {script_dialect::generic, L"insert into t\nvalues('line1\nline2');", {"S1:insert into t values('line1\nline2')"}},
      {script_dialect::mysql, L"select \"a\nb\", 1 # c\n, 2;", {"S1:select \"a\nb\", 1 # c\n, 2"}},
      {script_dialect::generic, L"create function f() returns int as $$\nselect 1\n$$\nlanguage sql;",
       {"S1:create function f() returns int as $$\nselect 1\n$$ language sql"}},
      {script_dialect::mysql, L"DELIMITER //\nCREATE PROCEDURE p()\nBEGIN\nSELECT 1;\nEND//\nDELIMITER ;\nselect\n2;",
       {"S2:CREATE PROCEDURE p() BEGIN\nSELECT 1;\nEND", "S7:select 2"}},
      {script_dialect::generic, L"\\c db\nCOPY t FROM stdin;\na\n\\.\nselect 1;", {"C1:\\c db", "D2:1:COPY t FROM stdin", "S5:select 1"}},
  };
  for (const auto& c : cases) EXPECT_EQ(cut(c.dialect, c.lines, 0, true), c.items) << std::string(c.items[0]);
}

// What a line typed at the prompt leaves behind: a statement held (not ended by ";"), and
// whether it stops inside something the next line goes on with.
TEST(ScriptCutter, WhatALineLeavesHeld) {
  const struct {
    script_dialect dialect;
    const wchar_t* line;
    bool holds, open;
  } cases[] = {
      {script_dialect::generic, L"select 1;", false, false},
      {script_dialect::generic, L"select 1", true, false},
      {script_dialect::generic, L"select 1; select 2", true, false},
      {script_dialect::generic, L"select 'a;", true, true},
      {script_dialect::generic, L"select \"a", true, true},
      {script_dialect::generic, L"select 1 /* a", true, true},
      {script_dialect::generic, L"select 1 -- a '", true, false},
      {script_dialect::generic, L"-- only a comment", false, false},
      {script_dialect::generic, L"select $$ a;", true, true},
      {script_dialect::generic, L"create trigger t after insert on u begin delete from v;", true, true},
      {script_dialect::mysql, L"select 'It\\'s", true, true},
      {script_dialect::mysql, L"select 1 # a '", true, false},
      {script_dialect::mysql, L"create procedure p() begin select 1;", true, true},
  };
  for (const auto& c : cases) {
    script_cutter cutter(true);
    cutter.set_dialect(c.dialect);
    cutter.add_line(c.line, [](script_item&) { return true; });
    const std::string shown(c.line, c.line + std::wcslen(c.line));
    EXPECT_EQ(cutter.holds_statement(), c.holds) << shown;
    EXPECT_EQ(cutter.inside_open_part(), c.open) << shown;
  }
}
