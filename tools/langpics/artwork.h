// The illustrations of the instructions window, drawn with QPainter.
#pragma once

#include <QImage>

QImage drawBanner();       // Image2, 484 x 242: the built-in picture
QImage drawBannerMark();   // Image15, 23 x 4: lies on the strip under the banner
QImage drawAboutEmblem();  // Image10, 139 x 164
QImage drawThanks();       // Image11, fills the "Thanks" page
QImage drawEbooks();       // Image3
QImage drawWallpapers();   // Image4
QImage drawBook();         // Image5
QImage drawProjects();     // Image12
