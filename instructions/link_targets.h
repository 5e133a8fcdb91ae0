// The addresses the instructions window opens, in English and in German.
#pragma once

#include <QString>

namespace instructions {

struct LinkTargets {
  QString ProductPageUrl;
  QString FaqPageUrl;
  QString UpdatePageUrl;
  QString DonatePageUrl;
  QString MakerHomeUrl;
  QString LicenseFileName;
  // The maker's other offers on the "Gifts" and "Appreciation" pages.
  QString EbooksPageUrl;
  QString WallpapersPageUrl;
  QString ScreensaversPageUrl;
  QString DownloadPageUrl;
  QString BookPageUrl;
  QString ProjectsPageUrl;
  QString ContactPageUrl;
};

LinkTargets englishLinkTargets();
LinkTargets germanLinkTargets();

// Fixed in every language.
QString artistSiteUrl();
QString videoPageUrl();
QString artworkGalleryUrl();

}  // namespace instructions
