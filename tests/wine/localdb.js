// LocalDB through Wine's COM and JScript: results, error numbers and descriptions exactly as a page
// sees them, names in any letter case, and the argument conversions on the way in.
var db = new ActiveXObject("Zentrak.LocalDB");

// Version and names.
check("GetVersion", db.GetVersion(), "Corvel SqliteDB 0.8");
check("GETVERSION", db.GETVERSION(), "Corvel SqliteDB 0.8");
check("getversion", db.getversion(), "Corvel SqliteDB 0.8");
checkError("a name that is no member", function () { db.noSuchMember(); }, NO_SUCH_MEMBER);
checkError("a misspelt member", function () { db.queryAl("select 1"); }, NO_SUCH_MEMBER);
check("programmatic name in any case", new ActiveXObject("zentrak.localdb").GetVersion(), "Corvel SqliteDB 0.8");

// Database in the profile folder.
check("setDBName", db.setDBName("wine_suite", ""), true);
db.executeSql("drop table if exists t");
check("SETDBNAME", db.SETDBNAME("wine_suite", ""), true);
check("create table", db.executeSql("create table t(id integer, name text, price real, note)"), true);
check("insert", db.executeSql("insert into t values(1, 'apple', 2.0, null)"), true);
check("insert 2", db.executeSql("insert into t values(-7, '\u4E2D\u6587', 2.5, 'x')"), true);
check("insert 3", db.executeSql("INSERT INTO t VALUES(3, 'it''s', 3, '')"), true);

// Wide text reaches the database through the system code page: under 936 the Chinese text is
// kept, under 1252 each character becomes "?". The column without a declared type whose first
// value is NULL gives "" for later values. A type declared in lower case ("real") is compared as
// written, so the column is a text column and its values read as SQLite's text of them.
var chinese = codePage() == "936" ? "\u4E2D\u6587" : "??";
var all = '{"size":-1,"total":3,"page":-1,"meta":["ID","NAME","PRICE","NOTE"],' +
          '"data":[["1","apple","2.0",null],["-7","' + chinese + '","2.5",""],["3","it\'s","3.0",""]]}';
check("queryAll", db.queryAll("select * from t"), all);
check("QueryAll in capitals", db.QUERYALL("select * from t"), all);
check("queryAll, no rows", db.queryAll("select * from t where id = 99"),
      '{"size":-1,"total":0,"page":-1,"meta":[],"data":[]}');
check("executeSql query returns the JSON", db.executeSql("  SELECT id FROM t WHERE id = 1"),
      '{"size":-1,"total":1,"page":-1,"meta":["ID"],"data":[["1"]]}');
check("lower-case alias upper-cased", db.queryAll("select name as n from t where id = 1"),
      '{"size":-1,"total":1,"page":-1,"meta":["N"],"data":[["apple"]]}');

// Paging, with the integer conversions of the arguments.
var page2 = '{"size":2,"total":3,"page":2,"meta":["ID"],"data":[["3"]]}';
check("queryByPage", db.queryByPage("select id from t", 2, 2), page2);
check("queryByPage, text numbers", db.queryByPage("select id from t", "2", "2"), page2);
check("queryByPage, 2.5 rounds to 2", db.queryByPage("select id from t", 2.5, 2), page2);
check("queryByPage, 1.5 rounds to 2", db.queryByPage("select id from t", 1.5, 2), page2);
check("queryByPage, true is -1", db.queryByPage("select id from t", true, 1),
      '{"size":-1,"total":3,"page":1,"meta":["ID"],"data":[["1"],["-7"],["3"]]}');
checkError("queryByPage, text that is no number", function () { db.queryByPage("select id from t", "abc", 1); },
           E_UNEXPECTED, "Could not convert variant of type (OleStr) into type (Boolean)");
checkError("queryByPage, Null page size", function () { db.queryByPage("select id from t", null, 1); },
           E_UNEXPECTED, "Could not convert variant of type (Null) into type (Integer)");

// Text conversions and failures.
checkError("queryAll(null)", function () { db.queryAll(null); }, E_UNEXPECTED,
           "Could not convert variant of type (Null) into type (String)");
checkError("queryAll on a missing table", function () { db.queryAll("select * from missing"); }, E_UNEXPECTED);
try {
  db.queryAll("select * from missing");
} catch (e) {
  check("missing table: second line", e.description.split("\r")[1].indexOf("Error [1]: SQL error or missing database.") == 0, true);
}
check("executeSql failure comes back as text", typeof db.executeSql("select * from missing"), "string");
check("executeSql statement failure is false", db.executeSql("insert into missing values(1)"), false);

// Results carry only text, booleans and integers.
check("isTableCached, unknown table", db.isTableCached("t"), false);

db.close();
db.close();
check("GetVersion after close", db.GetVersion(), "Corvel SqliteDB 0.8");
finish();
