// A named group of values a JSON result carries after its columns: a fit's
// data and fitted curve, a design's recipe and the profile it reaches. Its
// fields first (as the record's), then its arrays, each of numbers or of
// words. CSV has no place for them: a CSV table leaves its sections out.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "output/run_record.hpp"

namespace diffusim {

struct SectionArray {
  std::string name;
  bool words = false;
  std::vector<double> numbers;     // NaN and infinities written null
  std::vector<std::string> texts;  // when words
};

struct Section {
  std::string name;
  std::vector<Field> fields;
  std::vector<SectionArray> arrays;

  void add(std::string key, std::vector<double> values) {
    arrays.push_back({std::move(key), false, std::move(values), {}});
  }
  void addWords(std::string key, std::vector<std::string> values) {
    arrays.push_back({std::move(key), true, {}, std::move(values)});
  }
};

}  // namespace diffusim
