// The exact SQL text the builders hand to a destination.
#include <gtest/gtest.h>

#include "engine/Field_Unit.h"
#include "engine/Rec_Unit.h"

namespace kelvor {
namespace {

TObuField Field(const std::string& Name, TFieldType Type, const std::string& Value,
                bool IsKey = false) {
  TObuField f;
  f.FieldName = Name;
  f.DataType = Type;
  f.Value = Value;
  f.IsKey = IsKey;
  return f;
}

// The worked example: a1 key string k1, a2 integer 5, a3 date-time, a4 empty string.
TObuFields Example() {
  TObuFields r;
  r.Add(Field("a1", ftString, "k1", true));
  r.Add(Field("a2", ftInteger, "5"));
  r.Add(Field("a3", ftDateTime, "2024-05-01 10:20:30"));
  r.Add(Field("a4", ftString, ""));
  return r;
}

TEST(SqlTextTest, WorkedExampleCharacterForCharacter) {
  TObuFields r = Example();
  EXPECT_EQ(r.BuildInsertSql("test", 0),
            "insert into test(a1,a2,a3,a4)values('k1',5, TO_DATE('2024-05-01 "
            "10:20:30','YYYY-MM-DD HH24:MI:SS'),'')");
  // The literal INSERT keeps the time of a date-time for every type.
  EXPECT_EQ(r.BuildInsertSql("test", 1),
            "insert into test(a1,a2,a3,a4)values('k1',5, '2024-05-01 10:20:30','')");
  EXPECT_EQ(r.BuildUpdateSql("test", 0),
            "update test set  a2=5, a3= TO_DATE('2024-05-01 10:20:30','YYYY-MM-DD HH24:MI:SS'), "
            "a4='' where a1='k1'");
  EXPECT_EQ(r.BuildUpdateSql("test", 1),
            "update test set  a2=5, a3='2024-05-01 10:20:30', a4='' where a1='k1'");
  for (int type = 0; type <= 4; ++type)
    EXPECT_EQ(r.BuildKeyCondition(type), "a1='k1'");
  EXPECT_EQ(r.BuildParamInsertSql("test"), "insert into test(a1,a2,a3,a4)values(:a1,:a2,:a3,:a4)");
  // Keys are parameters too: one text for every record.
  EXPECT_EQ(r.BuildParamUpdateSql("test"), "update test set a2= :a2,a3= :a3,a4= :a4 where a1= :a1");
}

TEST(SqlTextTest, SecondDateKeyJoinsWithAnd) {
  TObuFields r;
  r.Add(Field("a1", ftString, "k1", true));
  r.Add(Field("a2", ftInteger, "5"));
  r.Add(Field("a3", ftDateTime, "2024-05-01 10:20:30"));
  r.Add(Field("a4", ftDate, "2024-05-02", true));
  EXPECT_EQ(r.BuildKeyCondition(0), "a1='k1' and a4= TO_DATE('2024-05-02','YYYY-MM-DD')");
  EXPECT_EQ(r.BuildKeyCondition(1), "a1='k1' and a4='2024-05-02'");
  EXPECT_EQ(r.BuildKeyCondition(4), "a1='k1' and a4= TO_DATE('2024-05-02')");
}

TEST(SqlTextTest, Db2WritesTimestampOnTheFirstFieldAndTimeStampAfter) {
  TObuFields r;
  r.Add(Field("t1", ftDateTime, "2024-05-01 10:20:30"));
  r.Add(Field("t2", ftTimeStamp, "2024-05-02 01:02:03", true));
  r.Add(Field("d", ftDate, "2024-05-03"));
  EXPECT_EQ(r.BuildInsertSql("x", 4),
            "insert into x(t1,t2,d)values( TIMESTAMP('2024-05-01 10:20:30'), "
            "TimeStamp('2024-05-02 01:02:03'), TO_DATE('2024-05-03'))");
  EXPECT_EQ(r.BuildUpdateSql("x", 4),
            "update x set  t1= TIMESTAMP('2024-05-01 10:20:30'), d= TO_DATE('2024-05-03') "
            "where t2= TIMESTAMP('2024-05-02 01:02:03')");
  // Oracle's VALUES list starts with the date-time of the first field.
  EXPECT_EQ(r.BuildInsertSql("x", 0).substr(0, 30), "insert into x(t1,t2,d)values( ");
}

TEST(SqlTextTest, EmptyAndNullLikeValues) {
  TObuFields r;
  r.Add(Field("k", ftInteger, "7", true));
  r.Add(Field("i", ftInteger, ""));
  r.Add(Field("m", ftMemo, ""));
  r.Add(Field("s", ftString, ""));
  r.Add(Field("dt", ftDateTime, "  "));
  r.Add(Field("b1", ftBoolean, "True"));
  r.Add(Field("b2", ftBoolean, "False"));
  EXPECT_EQ(r.BuildInsertSql(" t ", 1),
            "insert into t(k,i,m,s,dt,b1,b2)values(7,0,'','',null,1,0)");
  EXPECT_EQ(r.BuildUpdateSql(" t ", 1),
            "update  t  set  i=0, m='', s='', dt=null , b1=1, b2=0 where k=7");
}

// Each date kind in each dialect: the value of a literal INSERT, of an
// UPDATE's SET part and of a key term.
TEST(SqlTextTest, DatesTimesAndDateTimesKeepWhatTheyHold) {
  struct TCase {
    TFieldType Type;
    const char* Value;
    int DbType;
    const char* Insert;
    const char* Update;
    const char* Key;
  };
  const std::string oracleTime = " TO_DATE('1899-12-30 10:20:30','YYYY-MM-DD HH24:MI:SS')";
  const std::string oracleStamp = " TO_DATE('2024-05-01 10:20:30','YYYY-MM-DD HH24:MI:SS')";
  // clang-format off
  const TCase cases[] = {
      {ftDate, "2024-05-01", 0, " TO_DATE('2024-05-01','YYYY-MM-DD')",
       " TO_DATE('2024-05-01','YYYY-MM-DD')", " TO_DATE('2024-05-01','YYYY-MM-DD')"},
      {ftDate, "2024-05-01", 1, " '2024-05-01'", "'2024-05-01'", "'2024-05-01'"},
      {ftDate, "2024-05-01", 4, " TO_DATE('2024-05-01')", " TO_DATE('2024-05-01')",
       " TO_DATE('2024-05-01')"},
      {ftDateTime, "2024-05-01 10:20:30", 0, oracleStamp.c_str(), oracleStamp.c_str(),
       oracleStamp.c_str()},
      {ftDateTime, "2024-05-01 10:20:30", 1, " '2024-05-01 10:20:30'", "'2024-05-01 10:20:30'",
       "'2024-05-01 10:20:30'"},
      {ftTimeStamp, "2024-05-01 10:20:30", 2, " '2024-05-01 10:20:30'", "'2024-05-01 10:20:30'",
       "'2024-05-01 10:20:30'"},
      {ftDateTime, "2024-05-01 10:20:30", 4, " TimeStamp('2024-05-01 10:20:30')",
       " TIMESTAMP('2024-05-01 10:20:30')", " TIMESTAMP('2024-05-01 10:20:30')"},
      // Oracle has no time of day: day zero keeps it the same moment every run.
      {ftTime, "10:20:30", 0, oracleTime.c_str(), oracleTime.c_str(), oracleTime.c_str()},
      {ftTime, "10:20:30", 1, " '10:20:30'", "'10:20:30'", "'10:20:30'"},
      {ftTime, "10:20:30", 3, " '10:20:30'", "'10:20:30'", "'10:20:30'"},
      {ftTime, "10:20:30", 4, " TIME('10:20:30')", " TIME('10:20:30')", " TIME('10:20:30')"},
  };
  // clang-format on
  for (const TCase& c : cases) {
    TObuFields r;
    r.Add(Field("k", ftInteger, "1", true));
    r.Add(Field("v", c.Type, c.Value));
    const std::string what =
        std::string(FieldTypeName(c.Type)) + " for type " + std::to_string(c.DbType);
    EXPECT_EQ(r.BuildInsertSql("t", c.DbType),
              std::string("insert into t(k,v)values(1,") + c.Insert + ")")
        << what;
    EXPECT_EQ(r.BuildUpdateSql("t", c.DbType),
              std::string("update t set  v=") + c.Update + " where k=1")
        << what;
    TObuFields key;
    key.Add(Field("v", c.Type, c.Value, true));
    EXPECT_EQ(key.BuildKeyCondition(c.DbType), std::string("v=") + c.Key) << what;
  }
}

TEST(SqlTextTest, BooleanKeysEmptyDatesAndNoKey) {
  TObuFields flag;
  flag.Add(Field("flag", ftBoolean, "True", true));  // a boolean key stays as read
  EXPECT_EQ(flag.BuildKeyCondition(1), "flag=True");
  TObuFields empty;
  empty.Add(Field("d", ftDateTime, "", true));  // an empty date key does not parse
  EXPECT_THROW(empty.BuildKeyCondition(1), TConvertError);
  TObuFields bad;
  bad.Add(Field("d", ftDate, "not a date"));
  bad.Add(Field("t", ftTime, std::string(100, '9')));
  for (int column : {0, 1}) {
    try {
      bad.BuildInsertSql("t", 0);
      ADD_FAILURE() << "a value that is no date was written";
    } catch (const TConvertError& e) {
      // The message names the column and the value, a long value cut short.
      EXPECT_EQ(e.what(), column == 0 ? std::string("'not a date' in column d is not a valid "
                                                    "date and time")
                                      : "'" + std::string(64, '9') +
                                            "...' in column t is not a valid date and time");
    }
    bad.SetValue(0, "2024-05-01");
  }
  TObuFields noKey;
  noKey.Add(Field("a", ftString, "x"));
  EXPECT_EQ(noKey.BuildUpdateSql("t", 1), "update t set  a='x'");
  EXPECT_EQ(noKey.BuildKeyCondition(1), "");
}

// A NULL of any type is the keyword null wherever a literal statement
// carries a value; an empty value of the same type is not.
TEST(SqlTextTest, NullIsWrittenAsNullForEveryTypeAndDialect) {
  struct TCase {
    TFieldType Type;
    const char* EmptyInsert[5];  // the non-NULL empty value, per database type
  };
  // clang-format off
  const TCase cases[] = {
      {ftString, {"''", "''", "''", "''", "''"}},
      {ftMemo, {"''", "''", "''", "''", "''"}},
      {ftFixedChar, {"''", "''", "''", "''", "''"}},
      {ftInteger, {"0", "0", "0", "0", "0"}},
      {ftBCD, {"0", "0", "0", "0", "0"}},
      {ftFloat, {"0", "0", "0", "0", "0"}},
      {ftBoolean, {"0", "0", "0", "0", "0"}},
      {ftDate, {"null", "null", "null", "null", "null"}},
      {ftTime, {"null", "null", "null", "null", "null"}},
      {ftDateTime, {"null", "null", "null", "null", "null"}},
      {ftBlob, {"EMPTY_BLOB()", "convert(image,0x)", "convert(image,0x)", "convert(image,0x)",
                "EMPTY_BLOB()"}},
      {ftOraClob, {"EMPTY_BLOB()", "convert(image,0x)", "convert(image,0x)",
                   "convert(image,0x)", "EMPTY_CLOB()"}},
  };
  // clang-format on
  for (const TCase& c : cases) {
    for (int dbType = 0; dbType <= 4; ++dbType) {
      const std::string what =
          std::string(FieldTypeName(c.Type)) + " for type " + std::to_string(dbType);
      TObuField null = Field("v", c.Type, "");
      null.IsNull = true;
      TObuFields r;
      r.Add(Field("k", ftString, "1", true));
      r.Add(null);
      EXPECT_TRUE(r.IsNull(1)) << what;
      EXPECT_EQ(r.BuildInsertSql("t", dbType), "insert into t(k,v)values('1',null)") << what;
      EXPECT_EQ(r.BuildUpdateSql("t", dbType), "update t set  v=null  where k='1'") << what;

      TObuFields empty;
      empty.Add(Field("k", ftString, "1", true));
      empty.Add(Field("v", c.Type, ""));
      EXPECT_FALSE(empty.IsNull(1)) << what;
      EXPECT_EQ(empty.BuildInsertSql("t", dbType),
                std::string("insert into t(k,v)values('1',") + c.EmptyInsert[dbType] + ")")
          << what;
    }
  }
  // The texts that compare keys read a NULL key as the empty text.
  TObuFields key;
  TObuField k = Field("k", ftString, "", true);
  k.IsNull = true;
  key.Add(k);
  key.Add(Field("n", ftInteger, "2", true));
  EXPECT_EQ(key.KeyText(), ":2");
  EXPECT_EQ(key.BuildKeyCondition(1), "k='' and n=2");
  EXPECT_NO_THROW(key.CheckKeysHaveValues());
  // A number key without a value would read "n=": no row has such a key.
  for (bool null : {false, true}) {
    TObuFields number;
    TObuField n = Field("n", ftInteger, "", true);
    n.IsNull = null;
    number.Add(Field("k", ftString, "a", true));
    number.Add(n);
    try {
      number.CheckKeysHaveValues();
      ADD_FAILURE() << "a key without a value was let through";
    } catch (const TConvertError& e) {
      EXPECT_EQ(std::string(e.what()),
                "the key column n holds no value in the row with key 'a:'; a row is found by its "
                "key only when every key column has one");
    }
  }
}

TEST(SqlTextTest, QuotesAndBackslashesKeepAValueOneLiteral) {
  TObuFields r;
  r.Add(Field("name", ftString, "O'Brien", true));
  r.Add(Field("note", ftWideString, "it's"));
  EXPECT_EQ(r.BuildInsertSql("p", 1), "insert into p(name,note)values('O''Brien','it''s')");
  EXPECT_EQ(r.BuildUpdateSql("p", 1), "update p set  note='it''s' where name='O''Brien'");
  EXPECT_EQ(r.BuildKeyCondition(0), "name='O''Brien'");
  // A crafted value stays one literal.
  TObuFields evil;
  evil.Add(Field("s", ftString, "x'); drop table p; --"));
  EXPECT_EQ(evil.BuildInsertSql("p", 0), "insert into p(s)values('x''); drop table p; --')");
  // Where a backslash starts an escape, it is doubled too: "\'" would end
  // the literal there and run the rest.
  TObuFields b;
  b.Add(Field("k", ftString, "\\' or 1=1 -- ", true));
  b.Add(Field("v", ftString, "C:\\new"));
  EXPECT_EQ(b.BuildUpdateSql("p", 1), "update p set  v='C:\\new' where k='\\'' or 1=1 -- '");
  EXPECT_EQ(b.BuildUpdateSql("p", 1, true),
            "update p set  v='C:\\\\new' where k='\\\\'' or 1=1 -- '");
  EXPECT_EQ(b.BuildInsertSql("p", 0, true),
            "insert into p(k,v)values('\\\\'' or 1=1 -- ','C:\\\\new')");
  EXPECT_EQ(b.BuildKeyCondition(3, true), "k='\\\\'' or 1=1 -- '");
}

TEST(SqlTextTest, UnquotedTypesNeverCarrySqlOfTheirOwn) {
  TObuFields r;
  r.Add(Field("id", ftInteger, "1 or 1=1", true));
  r.Add(Field("n", ftBCD, "12345678.90"));
  r.Add(Field("f", ftFloat, "-1.5e-05"));
  EXPECT_EQ(r.BuildInsertSql("t", 1),
            "insert into t(id,n,f)values('1 or 1=1',12345678.90,-1.5e-05)");
  EXPECT_EQ(r.BuildKeyCondition(1), "id='1 or 1=1'");
}

TEST(SqlTextTest, LargeObjectLiterals) {
  TObuField f;
  f.DataType = ftBlob;
  EXPECT_EQ(f.HexToRawLiteral(), "EMPTY_BLOB()");
  EXPECT_EQ(f.BlobLiteral(), "EMPTY_BLOB()");
  EXPECT_EQ(f.ClobLiteral(), "EMPTY_CLOB()");
  EXPECT_EQ(f.ImageLiteral(), "convert(image,0x)");
  f.BlobData = std::string("\x00\xab'z", 4);
  EXPECT_EQ(f.HexToRawLiteral(), "hextoraw('00AB277A')");
  EXPECT_EQ(f.ImageLiteral(), "convert(image,0x00AB277A)");
  EXPECT_EQ(f.BlobLiteral(), std::string("BLOB('\x00\xab''z ')", 14));
  EXPECT_EQ(f.ClobLiteral(), "CLOB('0x00AB277A')");

  TObuFields r;
  TObuField clob;
  clob.FieldName = "c";
  clob.DataType = ftOraClob;
  clob.BlobData = "hi";
  r.Add(clob);
  TObuField blob;
  blob.FieldName = "b";
  blob.DataType = ftBlob;
  r.Add(blob);
  EXPECT_EQ(r.BuildInsertSql("t", 0), "insert into t(c,b)values(hextoraw('6869'),EMPTY_BLOB())");
  EXPECT_EQ(r.BuildInsertSql("t", 1),
            "insert into t(c,b)values(convert(image,0x6869),convert(image,0x))");
  EXPECT_EQ(r.BuildInsertSql("t", 4), "insert into t(c,b)values(CLOB('0x6869'),EMPTY_BLOB())");
}

TEST(RecordTest, FieldByNameTrimsTheFieldNameOnly) {
  TObuFields r;
  r.Add(Field(" Code ", ftString, "c1"));
  r.Add(Field("code", ftString, "c2"));
  EXPECT_EQ(r.FieldByName("CODE").Value, "c1");
  TObuFieldRef spare = r.FieldByName(" code");
  EXPECT_EQ(spare.Size, 0u);
  EXPECT_TRUE(spare.Value.empty());
  EXPECT_TRUE(spare.FieldName.empty());
}

TEST(RecordTest, ClonesShareColumnsButNotValues) {
  TObuFields a;
  a.Add(Field("k", ftString, "first", true));
  a.Add(Field("b", ftBlob, ""));
  a.SetBlobData(1, std::string("\x01\x02", 2));
  TObuFields b = a.CloneRecord();
  b.SetValue(0, "changed");
  b.Add(Field("extra", ftInteger, "1"));
  EXPECT_EQ(a.Value(0), "first");
  EXPECT_EQ(a.Count(), 2);
  EXPECT_EQ(b.KeyText(), "changed");
  EXPECT_EQ(b.BlobData(1), std::string("\x01\x02", 2));

  // The null state belongs to one slot and survives changes of the others.
  b.SetNull(0);
  b.SetValue(2, "12345");
  EXPECT_TRUE(b.IsNull(0));
  EXPECT_EQ(b.Value(0), "");
  EXPECT_FALSE(b.IsNull(1));
  EXPECT_EQ(b.BlobData(1), std::string("\x01\x02", 2));
  EXPECT_EQ(b.Value(2), "12345");
  EXPECT_FALSE(a.IsNull(0));
  b.SetValue(0, "");
  b.SetBlobData(1, "");
  EXPECT_FALSE(b.IsNull(0)) << "an empty text is a value";
  EXPECT_FALSE(b.IsNull(1)) << "no bytes are a value";
  EXPECT_TRUE(b.GetItem(1).BlobData.empty());
}

}  // namespace
}  // namespace kelvor
