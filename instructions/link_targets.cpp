#include "link_targets.h"

namespace instructions {
namespace {

// Every host lies under the reserved ".example" top-level domain, so no link of
// the program ever leads a user to somebody else's real site.
const QString kEnglishSite = QStringLiteral("https://www.brenvale.example");
const QString kGermanSite = QStringLiteral("https://de.brenvale.example");

}  // namespace

LinkTargets englishLinkTargets() {
  const QString& s = kEnglishSite;
  return LinkTargets{
      .ProductPageUrl = s + QStringLiteral("/software/quillmoss.php"),
      .FaqPageUrl = s + QStringLiteral("/software/quillmoss_faq.php"),
      // UID is the version 1.60 without its point; the page decides what to offer.
      .UpdatePageUrl = s + QStringLiteral("/software/quillmoss_update.php?UID=160"),
      .DonatePageUrl = s + QStringLiteral("/gratitude.php"),
      .MakerHomeUrl = s + QStringLiteral("/"),
      .LicenseFileName = QStringLiteral("License.txt"),
      .EbooksPageUrl = s + QStringLiteral("/ebooks.php"),
      .WallpapersPageUrl = s + QStringLiteral("/wallpapers.php"),
      .ScreensaversPageUrl = s + QStringLiteral("/screensavers.php"),
      .DownloadPageUrl = s + QStringLiteral("/software/download.php"),
      .BookPageUrl = s + QStringLiteral("/book.php"),
      .ProjectsPageUrl = s + QStringLiteral("/projects.php"),
      .ContactPageUrl = s + QStringLiteral("/contact.php"),
  };
}

LinkTargets germanLinkTargets() {
  const QString& s = kGermanSite;
  return LinkTargets{
      .ProductPageUrl = s + QStringLiteral("/software/quillmoss_deutsch.php"),
      .FaqPageUrl = s + QStringLiteral("/software/quillmoss_faq_deutsch.php"),
      .UpdatePageUrl = s + QStringLiteral("/software/quillmoss_update_deutsch.php?UID=160"),
      .DonatePageUrl = s + QStringLiteral("/dankbarkeit.php?SID=10"),
      .MakerHomeUrl = s + QStringLiteral("/"),
      .LicenseFileName = QStringLiteral("License.txt"),
      .EbooksPageUrl = s + QStringLiteral("/ebooks_deutsch.php"),
      .WallpapersPageUrl = s + QStringLiteral("/hintergrundbilder.php"),
      .ScreensaversPageUrl = s + QStringLiteral("/bildschirmschoner.php"),
      .DownloadPageUrl = s + QStringLiteral("/software/download_deutsch.php"),
      .BookPageUrl = s + QStringLiteral("/buch.php"),
      .ProjectsPageUrl = s + QStringLiteral("/projekte.php"),
      .ContactPageUrl = s + QStringLiteral("/kontakt.php"),
  };
}

QString artistSiteUrl() {
  return QStringLiteral("https://studio.brenvale.example/");
}

QString videoPageUrl() {
  return QStringLiteral("https://video.example/watch?v=quillmoss-160");
}

QString artworkGalleryUrl() {
  return QStringLiteral("https://studio.brenvale.example/gallery/");
}

}  // namespace instructions
