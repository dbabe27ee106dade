// dictimport: the rules that turn a dictionary into definitions, merging, errors, the console
// program, and regeneration of the committed definitions.
#include <string>
#include <vector>

#include "dictimport.h"
#include "tooltest.h"

namespace {

using corvale_test::readFile;
using corvale_test::writeFile;
using tooltest::ToolRun;

struct Doc {
  std::string label;
  std::string xml;
};

// Imports the documents; *error is set when the import fails.
bool importXml(const std::vector<Doc>& docs, dictimport::Definitions* out, std::string* error) {
  std::vector<pugi::xml_document> documents(docs.size());
  std::vector<dictimport::Dictionary> dictionaries;
  for (size_t i = 0; i < docs.size(); ++i) {
    EXPECT_TRUE(documents[i].load_string(docs[i].xml.c_str())) << docs[i].label;
    dictionaries.push_back({docs[i].label, &documents[i]});
  }
  return dictimport::importDictionaries(dictionaries, out, error);
}

// Header and trailer groups, components inside groups, a group whose instance begins with a
// nested group, DATA fields after their LENGTH fields, a group in a component no message uses,
// and one field of every type name that needs mapping (listed out of tag order).
const char kDictionary[] = R"(<fix type='FIX' major='4' minor='4'>
 <header>
  <field name='BeginString' required='Y'/>
  <field name='MsgType' required='Y'/>
  <field name='SecureDataLen' required='N'/>
  <field name='SecureData' required='N'/>
  <group name='NoHops' required='N'>
   <field name='HopCompID' required='N'/>
   <field name='HopSendingTime' required='N'/>
  </group>
 </header>
 <messages>
  <message name='NewOrderSingle' msgtype='D' msgcat='app'>
   <field name='ClOrdID' required='Y'/>
   <component name='Parties' required='N'/>
   <group name='NoAllocs' required='N'>
    <field name='AllocAccount' required='N'/>
    <component name='NestedParties' required='N'/>
    <field name='AllocShares' required='N'/>
   </group>
   <field name='XmlDataLen' required='N'/>
   <field name='XmlData' required='N'/>
  </message>
  <message name='Legs' msgtype='AB' msgcat='app'>
   <group name='NoLegs' required='N'>
    <component name='LegSides' required='N'/>
    <field name='LegSymbol' required='N'/>
    <field name='LegSymbol' required='N'/>
   </group>
  </message>
 </messages>
 <trailer>
  <field name='SignatureLength' required='N'/>
  <field name='Signature' required='N'/>
  <field name='CheckSum' required='Y'/>
 </trailer>
 <components>
  <component name='Parties'>
   <group name='NoPartyIDs' required='N'>
    <field name='PartyID' required='N'/>
    <field name='PartyRole' required='N'/>
    <group name='NoPartySubIDs' required='N'>
     <field name='PartySubID' required='N'/>
    </group>
   </group>
  </component>
  <component name='NestedParties'>
   <group name='NoNestedPartyIDs' required='N'>
    <field name='NestedPartyID' required='N'/>
   </group>
  </component>
  <component name='LegSides'>
   <group name='NoLegSides' required='N'>
    <field name='LegSide' required='N'/>
   </group>
  </component>
  <component name='Unused'>
   <group name='NoUnused' required='N'>
    <field name='UnusedStart' required='N'/>
   </group>
  </component>
 </components>
 <fields>
  <field number='35' name='MsgType' type='STRING'>
   <value enum='D' description='ORDER_SINGLE'/>
  </field>
  <field number='8' name='BeginString' type='STRING'/>
  <field number='90' name='SecureDataLen' type='LENGTH'/>
  <field number='91' name='SecureData' type='DATA'/>
  <field number='627' name='NoHops' type='NUMINGROUP'/>
  <field number='628' name='HopCompID' type='STRING'/>
  <field number='629' name='HopSendingTime' type='UTCTIMESTAMP'/>
  <field number='11' name='ClOrdID' type='STRING'/>
  <field number='453' name='NoPartyIDs' type='NUMINGROUP'/>
  <field number='448' name='PartyID' type='STRING'/>
  <field number='452' name='PartyRole' type='INT'/>
  <field number='802' name='NoPartySubIDs' type='NUMINGROUP'/>
  <field number='523' name='PartySubID' type='STRING'/>
  <field number='78' name='NoAllocs' type='NUMINGROUP'/>
  <field number='79' name='AllocAccount' type='STRING'/>
  <field number='80' name='AllocShares' type='QTY'/>
  <field number='539' name='NoNestedPartyIDs' type='NUMINGROUP'/>
  <field number='524' name='NestedPartyID' type='STRING'/>
  <field number='212' name='XmlDataLen' type='LENGTH'/>
  <field number='213' name='XmlData' type='DATA'/>
  <field number='555' name='NoLegs' type='NUMINGROUP'/>
  <field number='600' name='LegSymbol' type='STRING'/>
  <field number='1000' name='NoLegSides' type='NUMINGROUP'/>
  <field number='1001' name='LegSide' type='CHAR'/>
  <field number='93' name='SignatureLength' type='LENGTH'/>
  <field number='89' name='Signature' type='DATA'/>
  <field number='10' name='CheckSum' type='STRING'/>
  <field number='2000' name='NoUnused' type='NUMINGROUP'/>
  <field number='2001' name='UnusedStart' type='STRING'/>
  <field number='3001' name='Seq' type='SEQNUM'/>
  <field number='3002' name='TagNum' type='TAGNUM'/>
  <field number='3003' name='Pct' type='PERCENTAGE'/>
  <field number='3004' name='MultiChar' type='MULTIPLECHARVALUE'/>
  <field number='3005' name='MultiString' type='MULTIPLESTRINGVALUE'/>
  <field number='3006' name='DateOnly' type='UTCDATEONLY'/>
  <field number='3007' name='MonthYear' type='MONTHYEAR'/>
  <field number='3008' name='Day' type='DAYOFMONTH'/>
  <field number='3009' name='Xml' type='XMLDATA'/>
  <field number='3010' name='Country' type='COUNTRY'/>
  <field number='3011' name='Language' type='LANGUAGE'/>
  <field number='3012' name='TzTime' type='TZTIMEONLY'/>
  <field number='3013' name='TzStamp' type='TZTIMESTAMP'/>
  <field number='3014' name='MktTime' type='LOCALMKTTIME'/>
  <field number='3015' name='Xid' type='XID'/>
  <field number='3016' name='XidRef' type='XIDREF'/>
  <field number='3017' name='OldDate' type='DATE'/>
  <field number='3018' name='OldTime' type='TIME'/>
  <field number='3019' name='Odd' type='Bogus'/>
  <field number='3020' name='LowerPrice' type='price'/>
  <field number='3021' name='Multi' type='MULTIPLEVALUESTRING'/>
 </fields>
</fix>)";

TEST(Dictimport, FieldAndRepeatLinesFollowTheDictionary) {
  dictimport::Definitions out;
  std::string error;
  ASSERT_TRUE(importXml({{"test.xml", kDictionary}}, &out, &error)) << error;
  EXPECT_EQ(out.fields,
            "* Field definitions of test.xml, generated by dictimport: change the dictionaries, "
            "not this file.\n"
            "* tag,name,type,flags[,flags2,raw-length tag]\n"
            "8,BeginString,STRING,0\n"
            "10,CheckSum,STRING,0\n"
            "11,ClOrdID,STRING,0\n"
            "35,MsgType,STRING,16\n"
            "78,NoAllocs,INT,0\n"
            "79,AllocAccount,STRING,2\n"
            "80,AllocShares,QTY,0\n"
            "89,Signature,DATA,0,0,93\n"
            "90,SecureDataLen,INT,0\n"
            "91,SecureData,DATA,0,0,90\n"
            "93,SignatureLength,INT,0\n"
            "212,XmlDataLen,INT,0\n"
            "213,XmlData,DATA,64,0,212\n"
            "448,PartyID,STRING,2\n"
            "452,PartyRole,INT,0\n"
            "453,NoPartyIDs,INT,0\n"
            "523,PartySubID,STRING,2\n"
            "524,NestedPartyID,STRING,2\n"
            "539,NoNestedPartyIDs,INT,0\n"
            "555,NoLegs,INT,0\n"
            "600,LegSymbol,STRING,0\n"
            "627,NoHops,INT,0\n"
            "628,HopCompID,STRING,2\n"
            "629,HopSendingTime,UTCTIMESTAMP,0\n"
            "802,NoPartySubIDs,INT,0\n"
            "1000,NoLegSides,INT,2\n"
            "1001,LegSide,CHAR,2\n"
            "2000,NoUnused,INT,0\n"
            "2001,UnusedStart,STRING,2\n"
            "3001,Seq,INT,0\n"
            "3002,TagNum,INT,0\n"
            "3003,Pct,FLOAT,0\n"
            "3004,MultiChar,MULTIPLEVALUESTRING,0\n"
            "3005,MultiString,MULTIPLEVALUESTRING,0\n"
            "3006,DateOnly,UTCDATE,0\n"
            "3007,MonthYear,MONTH-YEAR,0\n"
            "3008,Day,DAY-OF-MONTH,0\n"
            "3009,Xml,DATA,64\n"
            "3010,Country,STRING,0\n"
            "3011,Language,STRING,0\n"
            "3012,TzTime,STRING,0\n"
            "3013,TzStamp,STRING,0\n"
            "3014,MktTime,STRING,0\n"
            "3015,Xid,STRING,0\n"
            "3016,XidRef,STRING,0\n"
            "3017,OldDate,LOCALMKTDATE,0\n"
            "3018,OldTime,UTCTIMESTAMP,0\n"
            "3019,Odd,Bogus,0\n"
            "3020,LowerPrice,PRICE,0\n"
            "3021,Multi,MULTIPLEVALUESTRING,0\n");
  EXPECT_EQ(out.repeats,
            "* Repeating group definitions of test.xml, generated by dictimport: change the "
            "dictionaries, not this file.\n"
            "* messageType,countTag,firstTag,groupName,allowed items...\n"
            "D,627,628,Hops,629\n"
            "D,453,448,PartyIDs,452,802,523\n"
            "D,802,523,PartySubIDs\n"
            "D,78,79,Allocs,539,524,80\n"
            "D,539,524,NestedPartyIDs\n"
            "AB,627,628,Hops,629\n"
            "AB,555,1000,Legs,1001,600\n"
            "AB,1000,1001,LegSides\n");
  EXPECT_EQ(out.fieldCount, 50);
  EXPECT_EQ(out.repeatCount, 8);
}

TEST(Dictimport, MergedDictionariesFirstDefinitionWinsAndHeadersApplyToAll) {
  const char session[] = R"(<fix type='FIXT' major='1' minor='1'>
 <header>
  <field name='MsgType' required='Y'/>
  <group name='NoHops' required='N'><field name='HopCompID' required='N'/></group>
 </header>
 <messages><message name='Heartbeat' msgtype='0' msgcat='admin'/></messages>
 <trailer/>
 <components/>
 <fields>
  <field number='35' name='MsgType' type='STRING'/>
  <field number='627' name='NoHops' type='NUMINGROUP'/>
  <field number='628' name='HopCompID' type='STRING'/>
 </fields>
</fix>)";
  const char application[] = R"(<fix type='FIX' major='5' minor='0'>
 <header/>
 <messages>
  <message name='Things' msgtype='X' msgcat='app'><component name='ThingGrp' required='N'/></message>
 </messages>
 <trailer/>
 <components>
  <component name='ThingGrp'>
   <group name='NoThings' required='N'><field name='Thing' required='N'/></group>
  </component>
 </components>
 <fields>
  <field number='628' name='HopCompID' type='INT'/>
  <field number='700' name='NoThings' type='NUMINGROUP'/>
  <field number='701' name='Thing' type='STRING'/>
 </fields>
</fix>)";
  dictimport::Definitions out;
  std::string error;
  ASSERT_TRUE(importXml({{"session.xml", session}, {"app.xml", application}}, &out, &error))
      << error;
  EXPECT_EQ(out.fields,
            "* Field definitions of session.xml + app.xml, generated by dictimport: change the "
            "dictionaries, not this file.\n"
            "* tag,name,type,flags[,flags2,raw-length tag]\n"
            "35,MsgType,STRING,16\n"
            "627,NoHops,INT,0\n"
            "628,HopCompID,STRING,2\n"
            "700,NoThings,INT,0\n"
            "701,Thing,STRING,2\n");
  EXPECT_EQ(out.repeats,
            "* Repeating group definitions of session.xml + app.xml, generated by dictimport: "
            "change the dictionaries, not this file.\n"
            "* messageType,countTag,firstTag,groupName,allowed items...\n"
            "0,627,628,Hops\n"
            "X,627,628,Hops\n"
            "X,700,701,Things\n");
}

// A dictionary around the given messages, components and fields.
std::string dictionary(const std::string& messages, const std::string& components,
                       const std::string& fields) {
  return "<fix><header/><messages>" + messages + "</messages><trailer/><components>" + components +
         "</components><fields>" + fields + "</fields></fix>";
}

TEST(Dictimport, InconsistentDictionariesAreRefused) {
  const std::string one = "<field number='1' name='One' type='INT'/>";
  const std::string groupOfOne = "<group name='One'><field name='One'/></group>";
  struct Row {
    const char* what;
    std::vector<Doc> docs;
    const char* error;
  } rows[] = {
      {"undefined field",
       {{"a", dictionary("<message name='M' msgtype='M'><field name='Nope'/></message>", "", one)}},
       "field Nope used in M is not defined"},
      {"undefined component",
       {{"a",
         dictionary("<message name='M' msgtype='M'><component name='Gone'/></message>", "", one)}},
       "component Gone is not defined"},
      {"component inside itself",
       {{"a",
         dictionary("<message name='M' msgtype='M'><component name='Loop'/></message>",
                    "<component name='Loop'>" + groupOfOne + "<component name='Loop'/></component>",
                    one)}},
       "component Loop includes itself"},
      {"empty group",
       {{"a", dictionary("<message name='M' msgtype='M'><group name='One'/></message>", "", one)}},
       "group One has no fields"},
      {"long message type",
       {{"a", dictionary("<message name='M' msgtype='ABCDEFGH'/>", "", one)}},
       "message M has the message type 'ABCDEFGH'"},
      {"same number, other name",
       {{"a", dictionary("", "", one)},
        {"b", dictionary("", "", "<field number='1' name='Uno' type='INT'/>")}},
       "b: field Uno (1) conflicts with an earlier dictionary"},
      {"comma in a name",
       {{"a", dictionary("", "", "<field number='1' name='O,ne' type='INT'/>")}},
       "cannot be written as a definitions line"},
      {"tag that is no number",
       {{"a", dictionary("", "", "<field number='1a' name='One' type='INT'/>")}},
       "cannot be written as a definitions line"},
      {"no fix element", {{"a", "<other/>"}}, "a has no fix element"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    dictimport::Definitions out;
    std::string error;
    EXPECT_FALSE(importXml(row.docs, &out, &error));
    EXPECT_NE(error.find(row.error), std::string::npos) << error;
  }
}

using DictimportProgram = tooltest::ScratchDir;

ToolRun dictimportRun(const std::vector<std::string>& args) {
  return tooltest::runTool(dictimport::run, "dictimport", args);
}

TEST_F(DictimportProgram, ExitCodesAndMessages) {
  writeFile("good.xml", kDictionary);
  writeFile("broken.xml", "<fix><fields>");
  writeFile("loop.xml",
            dictionary("<message name='M' msgtype='M'><field name='Nope'/></message>", "", ""));
  struct Row {
    std::vector<std::string> args;
    int exitCode;
    const char* console;  // start of the console text
  } rows[] = {
      {{"a.def", "a.rep"}, 1, "\nDictimport V1.00\n"},
      {{"a.def", "a.rep", "none.xml"}, 100, "Unable to read dictionary none.xml: "},
      {{"a.def", "a.rep", "good.xml", "broken.xml"}, 100, "Unable to read dictionary broken.xml"},
      {{"a.def", "a.rep", "loop.xml"}, 102, "Inconsistent dictionary: field Nope used in M"},
      {{"missing/a.def", "a.rep", "good.xml"}, 101, "Unable to write missing/a.def\n"},
      {{"a.def", "a.rep", "good.xml"},
       0,
       "50 field definitions written to a.def, 8 repeating definitions to a.rep\n"},
  };
  for (const Row& row : rows) {
    const ToolRun run = dictimportRun(row.args);
    EXPECT_EQ(run.exitCode, row.exitCode) << run.console;
    EXPECT_EQ(run.console.rfind(row.console, 0), 0u) << run.console;
  }
  dictimport::Definitions expected;
  std::string error;
  ASSERT_TRUE(importXml({{"good.xml", kDictionary}}, &expected, &error));
  EXPECT_EQ(readFile("a.def"), expected.fields);
  EXPECT_EQ(readFile("a.rep"), expected.repeats);
}

struct Level {
  const char* name;
  std::vector<std::string> dictionaries;
};

void PrintTo(const Level& level, std::ostream* out) {
  *out << level.name;
}

class CommittedDefinitions : public DictimportProgram, public testing::WithParamInterface<Level> {};

TEST_P(CommittedDefinitions, RegenerateByteForByte) {
  const std::string defs = std::string(CORVALE_SOURCE_DIR) + "/defs/";
  std::vector<std::string> args = {"gen.def", "gen.rep"};
  for (const std::string& d : GetParam().dictionaries) args.push_back(defs + "dictionaries/" + d);
  const ToolRun run = dictimportRun(args);
  ASSERT_EQ(run.exitCode, 0) << run.console;
  EXPECT_TRUE(readFile("gen.def") == readFile(defs + GetParam().name + ".def"));
  EXPECT_TRUE(readFile("gen.rep") == readFile(defs + GetParam().name + ".rep"));
}

INSTANTIATE_TEST_SUITE_P(
    Levels, CommittedDefinitions,
    testing::Values(Level{"FIX40", {"FIX40.xml"}}, Level{"FIX41", {"FIX41.xml"}},
                    Level{"FIX42", {"FIX42.xml"}}, Level{"FIX43", {"FIX43.xml"}},
                    Level{"FIX44", {"FIX44.xml"}}, Level{"FIXT11", {"FIXT11.xml", "FIX50SP2.xml"}}),
    [](const testing::TestParamInfo<Level>& info) { return std::string(info.param.name); });

}  // namespace
