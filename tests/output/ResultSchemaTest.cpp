// The description of every result file: the headers stored files and scripts read by position,
// the result kinds a run may be asked for, and the JSON the loaders read.
#include "core/Configuration.h"
#include "core/Traits.h"
#include "model/Animal.h"
#include "output/ResultSchema.h"

#include <gtest/gtest.h>

#include <boost/property_tree/ptree.hpp>

#include <set>
#include <string>

using namespace soilweb;

// The files' headers as stored runs hold them: a column moved or renamed by accident fails here
// (and in the golden runs), a column added on purpose is one line here.
TEST(ResultSchema, HeadersAreThoseOfTheStoredFiles) {
  EXPECT_EQ(ResultSchema::header("summary", true),
            "DAY\tBIOMASS\tPREY_UNBORN\tPREY_ACTIVE\tPREY_STARVED\tPREY_PREDATED\tPREY_REPRODUCING\tPREY_SENESCED\t"
            "PREDATOR_UNBORN\tPREDATOR_ACTIVE\tPREDATOR_STARVED\tPREDATOR_PREDATED\tPREDATOR_REPRODUCING\t"
            "PREDATOR_BACKGROUND\tPREDATOR_SENESCED\tTEMPERATURE\n");
  EXPECT_EQ(ResultSchema::header("summary").find("TEMPERATURE"), std::string::npos);
  EXPECT_EQ(ResultSchema::header("cells"), "id\tfungi\tactive_prey\tactive_predators\n");
  EXPECT_EQ(ResultSchema::header("deaths"), "death_day\tid\tspecies\tfate\n");
  EXPECT_EQ(ResultSchema::header("foodweb_nodes"), "id\tspecies\tcategory\tbirth_day\tdeath_day\tfate\n");
  EXPECT_EQ(ResultSchema::header("foodweb_edges"), "hunter\tvictim\tencounters\tpredations\n");
  EXPECT_EQ(ResultSchema::header("nodes"), "node\tcategory\n");
  const std::string pedigree = ResultSchema::header("pedigree");
  EXPECT_EQ(pedigree.substr(0, pedigree.find("\tenergy")),
            "id\tspecies\tbirth_day\tID_prt1\tID_prt2\tg_numb_prt1\tg_numb_prt2");
  // The statistics: four columns, then each trait's statistics (and heterozygosity), in the traits' order.
  const std::string traits = ResultSchema::header("traits"), genetics = ResultSchema::header("genetics");
  EXPECT_EQ(traits.substr(0, traits.find("\tenergy_sd")), "day\tspecies\tstage\tcount\tenergy_mean");
  EXPECT_EQ(genetics.substr(genetics.find("\tenergy_max"), genetics.find("\tgrowth_mean") - genetics.find("\tenergy_max")),
            "\tenergy_max\tenergy_het");
  EXPECT_EQ(ResultSchema::file("traits").columns.size(), 4 + 4 * NUMBER_OF_TRAITS);
  // The neutral markers' columns close the genetics and the pedigree, when some species has them.
  EXPECT_EQ(ResultSchema::file("genetics").columns.size(), 4 + 5 * NUMBER_OF_TRAITS + 6);
  EXPECT_EQ(ResultSchema::file("pedigree").columns.size(), 7 + NUMBER_OF_TRAITS + 2);
  EXPECT_EQ(ResultSchema::header("pedigree", true), pedigree.substr(0, pedigree.size() - 1) + "\tneutral\tneutral_het\n");
  EXPECT_EQ(ResultSchema::header("genetics", true).substr(genetics.size() - 1),
            "\tneutral_mean\tneutral_sd\tneutral_min\tneutral_max\tneutral_het\tneutral_he\n");
  EXPECT_THROW(ResultSchema::header("no such file"), std::logic_error);
}

// Every file a run writes belongs to a kind it may be asked for (or is the record or the
// checkpoint, written whatever is asked), and every kind names files of the schema.
TEST(ResultSchema, EveryResultFileHasAKindAndEveryKindItsFiles) {
  std::set<std::string> ofKinds;
  for (const ResultKind& kind : ResultSchema::kinds()) {
    EXPECT_FALSE(kind.files.empty()) << kind.name;
    for (const char* id : kind.files) {
      EXPECT_NO_THROW(ResultSchema::file(id)) << kind.name << ": " << id;
      ofKinds.insert(id);
    }
  }
  for (const ResultFile& file : ResultSchema::files())
    EXPECT_TRUE(ofKinds.count(file.id) || std::string(file.id) == "record" || std::string(file.id) == "checkpoint")
        << file.id;
  EXPECT_TRUE(ResultSchema::hasKind("summary"));
  EXPECT_FALSE(ResultSchema::hasKind("record"));
}

// The JSON the loaders read parses, and says of each trait how it moves after birth.
TEST(ResultSchema, TheJsonListsTheTraitsAsTheTraitTableDoes) {
  const boost::property_tree::ptree schema = Configuration::parse(ResultSchema::json());
  std::size_t t = 0;
  for (const auto& [unused, trait] : schema.get_child("traits")) {
    ASSERT_LT(t, NUMBER_OF_TRAITS);
    EXPECT_EQ(trait.get<std::string>("name"), TRAITS[t].name);
    EXPECT_EQ(trait.get<std::string>("after_birth"), isFixedFromBirth(t)    ? showsGeneticValue(t) ? "inherited" : "set at birth"
                                                   : "changes");
    ++t;
  }
  EXPECT_EQ(t, NUMBER_OF_TRAITS);
  EXPECT_EQ(schema.get_child("kinds").size(), ResultSchema::kinds().size());
  EXPECT_EQ(schema.get_child("states").size(), static_cast<std::size_t>(NUMBER_OF_STATES));
}
