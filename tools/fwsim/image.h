// Demo firmware images: small text files that name the firmware they stand for.
//
// The first line of an image is
//   FWSIM-IMAGE component=COMPONENT version=VERSION [devid=DEVID]
// (fields in any order, separated by blanks). COMPONENT is bc, ipmi, asf, mba, ump, ncsi or ib;
// VERSION is one word; DEVID, when given, is the only PCI device id the image fits. Everything
// after the first line is free text and ignored.
#pragma once

#include <string>

namespace fwsim {

struct Image {
    std::string component;
    std::string version;
    std::string devId;  // "" = fits every device
};

// Reads an image from the contents `text`; `path` is used in messages only. False with *error set
// when the first line is not a valid image line.
bool parseImage(const std::string& text, const std::string& path, Image* out, std::string* error);

// Reads the image file at `path`. False with *error set when it is missing, unreadable or invalid.
bool readImage(const std::string& path, Image* out, std::string* error);

// The whole text of an image file for `image` (first line and a comment line).
std::string formatImage(const Image& image, const std::string& note);

}  // namespace fwsim
