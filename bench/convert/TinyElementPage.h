#pragma once

#include <QByteArray>

// A page of the chat site's markup whose one bot message holds `elements` tiny elements
// ("<b>x</b>", 8 bytes each: an element and its text): the page on which the DOM's memory per
// element shows. 2,000,000 of them make a page of 16 MB.
QByteArray generateTinyElementPage(int elements);
