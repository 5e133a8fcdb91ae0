#include "languages.h"

#include <algorithm>

#include <QLocale>

namespace instructions {
namespace {
using K = LanguageKind;

// Texts are the program's own and are kept exactly as written, quotation marks
// included. "Extract!" is the context-menu entry's name and is never translated.
constexpr Language kLanguages[] = {
    {"Afrikaans",
     K::Text,
     {1078, 0, 0},
     {"Om jou in staat te stel om n vouer te open kies een van die volgende drie metodes:",
      "--> Sleep 'n' drup die saamgeperste vouer op die prentjie bo-aan",
      "--> Klik regs op die saamgeperste vouer en kies \"Extract!\" in die Konteks menu",
      "--> Klik dubbel op die saamgeperste vouer"},
     nullptr},
    {"Albanian",
     K::Text,
     {1052, 0, 0},
     {"Per te unrar nje skedar zgjidhni nje nga tre menyrat e meposhtme...",
      "--> Zvare dhe leshoje skedarin e kompresuar ne pikturen ketu siper",
      "--> Kliko me butonin e djathte skedarin e kompresuar dhe zgjidh tek menuja \"Extract!\"",
      "--> Kliko dy here skedarin e kompresuar"},
     nullptr},
    {"Catalan",
     K::Text,
     {1027, 0, 0},
     {"Per obrir un arxiu, trieu un dels tres mètodes següents:",
      "--> Arrossegar i deixar anar el fitxer comprimit a la foto",
      "--> Feu clic dret en el fitxer comprimit i seleccioneu \"Extract!\" al menú contextual",
      "--> Feu doble clic al fitxer comprimit"},
     nullptr},
    {"Danish",
     K::Text,
     {1030, 0, 0},
     {"Vælg en af følgende metoder for at pakke en RAR-fil ud:",
      "--> Træk filen hen over billedet ovenover denne anvisning",
      "--> Åbn filens kontekst-menu og vælg \"Extract!\"", "--> Doppeltklik på filen"},
     nullptr},
    {"Dutch",
     K::Text,
     {1043, 0, 0},
     {"Om een RAR-bestand te ontpakken kies een van de volgende methoden:",
      "--> Trek het bestand in het beeld boven deze handleiding",
      "--> Open het kontext-menu van het bestand en kies \"Extract!\"",
      "--> Dubbel klik het RAR-bestand"},
     nullptr},
    {"Esperanto",
     K::Text,
     {9998, 0, 0},
     {"Malfermi dosieron elekti unu el la tri sekv metodoj:",
      "--> haul 'n' fal la kunpremita dosieron sur la bildo super",
      "--> gustaklak la kunpremita dosieron kaj elekti \"Extract!\" en la kunteksto menuo",
      "--> dufoje musklak la kunpremita dosieron"},
     nullptr},
    {"Estonian",
     K::Text,
     {1061, 0, 0},
     {"Faili avamiseks vali üks kolmest alljärgnevast meetodist:",
      "--> tõmba kokkupakitud fail pildile",
      "--> vali parema hiireklõpsu peale ilmuvast nimekirjast \"Extract!\"",
      "--> tee topeltklõps kokkupakitud failil"},
     nullptr},
    {"Finnish",
     K::Text,
     {1035, 0, 0},
     {"Valitse jokin kolmesta tavasta purkaaksesi RAR-tiedosto:",
      "--> Vedä pakattu tiedosto kuvan päälle tämän ohjeen yläpuolella",
      "--> Klikkaa hiiren oikealla painikkeella RAR-pakettia ja ja valitse avautuvasta valikosta "
      "\"Extract!\"",
      "--> Kaksoisklikkaa RAR-tiedostoa"},
     nullptr},
    {"French",
     K::Text,
     {1036, 0, 0},
     {"Pour décomprimer un fichier-RAR choisissez une méthode parmi les méthodes suivantes:",
      "--> Tirez le fichier sur l’image au dessus de ces indications",
      "--> Ouvrez le menu de raccourci (touche droite de la souris) et choisissez \"Extract!\"",
      "--> Faites un double-click sur le fichier comprimé"},
     nullptr},
    {"Galician",
     K::Text,
     {1110, 0, 0},
     {"Para abrir un arquivo elixir un dos tres métodos seguintes:",
      "--> arrastrar e soltar o arquivo compactado na foto",
      "--> clic co botón dereito e selecciona o arquivo compactado \"Extract!\" no menú de "
      "contexto",
      "--> dun dobre clic no arquivo compactado"},
     nullptr},
    {"Hungarian",
     K::Text,
     {1038, 0, 0},
     {"Van három mód, hogy kihúzzanak egy fájlt:", "--> csepp fájl a képen fenti",
      "--> kattints jobb egérgombbal fájlra és válaszd \"Extract!\" menüben",
      "--> kétszeres-kattanás RAR-fájl"},
     nullptr},
    {"Icelandic",
     K::Text,
     {15, 0, 0},
     {"Velja aðferð til þykkni þinn skrá:", "--> Falla skrá á mynd yfir",
      "--> Réttur-smellur skrá og velja \"Extract!\" í matseðill",
      "--> Tvöfaldur-smellur RAR-skrá"},
     nullptr},
    {"Indonesian",
     K::Text,
     {1057, 0, 0},
     {"Ada tiga cara untuk sari berkas:", "--> Batalkan berkas anda di atas gambar di atas",
      "--> Berbunyi benar menyimpan dan pilih \"Extract!\" di menu",
      "--> Mengklik dua kali RAR-berkas"},
     nullptr},
    {"Italian",
     K::Text,
     {1040, 0, 0},
     {"Per decomprimere un file in formato .rar scelga uno dei seguenti metodi:",
      "--> Trascini e depositi il file compresso nella immagine di sopra questa spiegazione",
      "--> Clicchi sul file con il tasto destro e scelga \"Extract!\" nel menu che si apre",
      "--> Clicchi due volte sul file"},
     nullptr},
    {"Macedonian",
     K::Text,
     {1071, 0, 0},
     {"Za da go unrar izberete eden od trite metodi:",
      "--> Stavete go komrpesiraniot fajl na slikata pogore",
      "--> Desen klik na kompresiraniot fajl vo kontekst meni \"Extract!\"",
      "--> Double klik na kompresiraniot fajl"},
     nullptr},
    {"Malay",
     K::Text,
     {1086, 0, 0},
     {"Sila memilih satu daripada tiga jalan untuk memetik arkib:",
      "--> Kamu arkib kamu pada itu imej atas",
      "--> Kamu kanan menglik arkib dan kamu memilih \"Extract!\" dari itu menu",
      "--> Kamu mendwiklik kamu arkib"},
     nullptr},
    {"Norwegian",
     K::Text,
     {1044, 2068, 0},
     {"Velg en av de følgende metodene til å trekke ut et arkiv:",
      "--> Hindring og faller komprimerte arkivet på bilde over",
      "--> Rett-klikk komprimerte arkivet og velg \"Extract!\" i kontekst-menyen",
      "--> Dobbelt-klikk din RAR-arkiv"},
     nullptr},
    {"Polish",
     K::Text,
     {1045, 0, 0},
     {"Zeby odpakowac RAR plik wybierz jedna z nastepujacych metod:",
      "--> Przesun plik na Obraz nad tym wprowadzeniem",
      "--> Otworz dialog kontextowy pliku i wybierz \"Extract!\"",
      "--> Kliknij podwojnie ten plik"},
     nullptr},
    {"Portuguese",
     K::Text,
     {1046, 2070, 0},
     {"Para descomprimir un ficheiro escolha um dos seguintes três métodos:",
      "--> Arraste e deixe o ficheiro comprimido cair na imagem superior",
      "--> Faça click com o botão direito do rato sobre o ficheiro comprimido e seleccione "
      "\"Extract!\"",
      "--> Faça duplo click sobre o ficheiro comprimido"},
     nullptr},
    {"Romanian",
     K::Text,
     {1048, 0, 0},
     {"Pentru a decomprima un fisier, folositi una dintre urmatoarele trei metode:",
      "--> Selectati, mutati si pozitionati fisierul comprimat peste iconita deasupra",
      "--> Selectati cu click-dreapta fisierul comprimat si alegeti optiunea \"Extract!\" din "
      "meniu",
      "--> Selectati fisierul cu dublu-click"},
     nullptr},
    {"Spanish",
     K::Text,
     {1034, 1069, 3082},
     {"Para descomprimir un archivo elija uno de los siguientes tres métodos:",
      "--> arrastre y deje el archivo comprimido en la imagen superior",
      "--> haga click con el botón derecho del ratón sobre el archivo comprimido y elija "
      "\"Extract!\"",
      "--> haga doble click sobre el archivo comprimido"},
     nullptr},
    {"Swedish",
     K::Text,
     {1053, 0, 0},
     {"För att öppna en RAR-fil använd en av följande metoder:",
      "--> Dra filen på bilden över denna anvisningen",
      "--> Öppna kontext-menyn av filen och välj \"Extract!\"", "--> Dubbelklicka på RAR-filen"},
     nullptr},
    {"Uzbek",
     K::Text,
     {1091, 0, 0},
     {"Och- rar egow sayla bir josin:", "--> Tom- rar egow ustida bo'yoq juqori",
      "--> O'ng chert- rar egow sayla \"Extract!\"", "--> Chert-ikki rar egow"},
     nullptr},
    {"Welsh",
     K::Text,
     {1160, 0, 0},
     {"Mae 'n dri ffyrdd at dynnu ffeil:", "--> Ddefnynna ffeilia acha darlunia goruwch",
      "--> Dde-chlecia ffeilia a ddethol \"Extract!\" i mewn ddewislen",
      "--> Blygu-chlecia RAR-ffeilia"},
     nullptr},
    {"German",
     K::Text,
     {1031, 4103, 0},
     {"Zum Entpacken einer RAR-Datei wählen Sie eine der folgenden Methoden:",
      "--> Ziehen Sie die Datei auf das Bild über dieser Anleitung",
      "--> Öffnen Sie das Kontext-Menü der Datei und wählen Sie \"Extract!\"",
      "--> Doppelklicken Sie die RAR-Datei"},
     nullptr},
    {"Arabic", K::Arabic, {1025, 0, 0}, {}, nullptr},
    {"Bulgarian", K::Picture, {1026, 0, 0}, {}, "LanguageImageBulgarian"},
    {"ChineseTrad", K::Picture, {1028, 0, 0}, {}, "LanguageImageChineseTrad"},
    {"Czech", K::Picture, {1029, 0, 0}, {}, "LanguageImageCzech"},
    {"Greek", K::Picture, {1032, 0, 0}, {}, "LanguageImageGreek"},
    {"Hebrew", K::Picture, {1037, 0, 0}, {}, "LanguageImageHebrew"},
    {"Japanese", K::Picture, {1041, 0, 0}, {}, "LanguageImageJapanese"},
    {"Korean", K::Picture, {1042, 0, 0}, {}, "LanguageImageKorean"},
    {"Russian", K::Picture, {1049, 0, 0}, {}, "LanguageImageRussian"},
    {"BosnianCroatianSerbian",
     K::Picture,
     {1050, 2074, 5146},
     {},
     "LanguageImageBosnianCroatianSerbian"},
    {"Slovak", K::Picture, {1051, 0, 0}, {}, "LanguageImageSlovak"},
    {"Thai", K::Picture, {1054, 0, 0}, {}, "LanguageImageThai"},
    {"Turkish", K::Picture, {1055, 0, 0}, {}, "LanguageImageTurkish"},
    {"Ukrainian", K::Picture, {1058, 0, 0}, {}, "LanguageImageUkrainian"},
    {"Belarusian", K::Picture, {1059, 0, 0}, {}, "LanguageImageBelarusian"},
    {"Slovenian", K::Picture, {1060, 0, 0}, {}, "LanguageImageSlovenian"},
    {"Latvian", K::Picture, {1062, 0, 0}, {}, "LanguageImageLatvian"},
    {"Lithuanian", K::Picture, {1063, 0, 0}, {}, "LanguageImageLithuanian"},
    {"Farsi", K::Picture, {1065, 0, 0}, {}, "LanguageImageFarsi"},
    {"Mongolian", K::Picture, {1104, 0, 0}, {}, "LanguageImageMongolian"},
    {"ChineseSimp", K::Picture, {2052, 0, 0}, {}, "LanguageImageChineseSimp"},
    {"Serbian", K::Picture, {3098, 0, 0}, {}, "LanguageImageSerbian"},
    {"Kurdish", K::Picture, {9999, 0, 0}, {}, "LanguageImageKurdish"},
};

struct LocaleNumber {
  QLocale::Language language;
  QLocale::Script script;
  QLocale::Territory territory;
  int id;
};

constexpr QLocale::Script kAnyScript = QLocale::AnyScript;
constexpr QLocale::Territory kAnyTerritory = QLocale::AnyTerritory;

// The first row that matches wins: a language's particular rows stand before
// its general one.
constexpr LocaleNumber kLocaleNumbers[] = {
    {QLocale::Afrikaans, kAnyScript, kAnyTerritory, 1078},
    {QLocale::Albanian, kAnyScript, kAnyTerritory, 1052},
    {QLocale::Catalan, kAnyScript, kAnyTerritory, 1027},
    {QLocale::Danish, kAnyScript, kAnyTerritory, 1030},
    {QLocale::Dutch, kAnyScript, kAnyTerritory, 1043},
    {QLocale::Esperanto, kAnyScript, kAnyTerritory, 9998},
    {QLocale::Estonian, kAnyScript, kAnyTerritory, 1061},
    {QLocale::Finnish, kAnyScript, kAnyTerritory, 1035},
    {QLocale::French, kAnyScript, kAnyTerritory, 1036},
    {QLocale::Galician, kAnyScript, kAnyTerritory, 1110},
    {QLocale::Hungarian, kAnyScript, kAnyTerritory, 1038},
    {QLocale::Icelandic, kAnyScript, kAnyTerritory, 15},
    {QLocale::Indonesian, kAnyScript, kAnyTerritory, 1057},
    {QLocale::Italian, kAnyScript, kAnyTerritory, 1040},
    {QLocale::Macedonian, kAnyScript, kAnyTerritory, 1071},
    {QLocale::Malay, kAnyScript, kAnyTerritory, 1086},
    {QLocale::NorwegianNynorsk, kAnyScript, kAnyTerritory, 2068},
    {QLocale::NorwegianBokmal, kAnyScript, kAnyTerritory, 1044},
    {QLocale::Polish, kAnyScript, kAnyTerritory, 1045},
    {QLocale::Portuguese, kAnyScript, QLocale::Brazil, 1046},
    {QLocale::Portuguese, kAnyScript, kAnyTerritory, 2070},
    {QLocale::Romanian, kAnyScript, kAnyTerritory, 1048},
    {QLocale::Spanish, kAnyScript, kAnyTerritory, 3082},
    {QLocale::Basque, kAnyScript, kAnyTerritory, 1069},
    {QLocale::Swedish, kAnyScript, kAnyTerritory, 1053},
    {QLocale::Uzbek, kAnyScript, kAnyTerritory, 1091},
    {QLocale::Welsh, kAnyScript, kAnyTerritory, 1160},
    {QLocale::German, kAnyScript, QLocale::Luxembourg, 4103},
    {QLocale::German, kAnyScript, kAnyTerritory, 1031},
    {QLocale::Arabic, kAnyScript, kAnyTerritory, 1025},
    {QLocale::Bulgarian, kAnyScript, kAnyTerritory, 1026},
    {QLocale::Chinese, QLocale::TraditionalChineseScript, kAnyTerritory, 1028},
    {QLocale::Chinese, kAnyScript, kAnyTerritory, 2052},
    {QLocale::Czech, kAnyScript, kAnyTerritory, 1029},
    {QLocale::Greek, kAnyScript, kAnyTerritory, 1032},
    {QLocale::Hebrew, kAnyScript, kAnyTerritory, 1037},
    {QLocale::Japanese, kAnyScript, kAnyTerritory, 1041},
    {QLocale::Korean, kAnyScript, kAnyTerritory, 1042},
    {QLocale::Russian, kAnyScript, kAnyTerritory, 1049},
    {QLocale::Croatian, kAnyScript, kAnyTerritory, 1050},
    {QLocale::Serbian, QLocale::LatinScript, kAnyTerritory, 2074},
    {QLocale::Serbian, kAnyScript, kAnyTerritory, 3098},
    {QLocale::Bosnian, kAnyScript, kAnyTerritory, 5146},
    {QLocale::Slovak, kAnyScript, kAnyTerritory, 1051},
    {QLocale::Thai, kAnyScript, kAnyTerritory, 1054},
    {QLocale::Turkish, kAnyScript, kAnyTerritory, 1055},
    {QLocale::Ukrainian, kAnyScript, kAnyTerritory, 1058},
    {QLocale::Belarusian, kAnyScript, kAnyTerritory, 1059},
    {QLocale::Slovenian, kAnyScript, kAnyTerritory, 1060},
    {QLocale::Latvian, kAnyScript, kAnyTerritory, 1062},
    {QLocale::Lithuanian, kAnyScript, kAnyTerritory, 1063},
    {QLocale::Persian, kAnyScript, kAnyTerritory, 1065},
    {QLocale::Mongolian, kAnyScript, kAnyTerritory, 1104},
    {QLocale::Kurdish, kAnyScript, kAnyTerritory, 9999},
};

}  // namespace

QStringList Language::instructionLines() const {
  QStringList out;
  if (kind != LanguageKind::Text) return out;
  for (const char* line : lines) out << QString::fromUtf8(line);
  return out;
}

const Language* findLanguage(int id) {
  if (id == 0) return nullptr;
  for (const Language& language : kLanguages) {
    if (std::find(language.ids.begin(), language.ids.end(), id) != language.ids.end()) {
      return &language;
    }
  }
  return nullptr;
}

bool isGerman(int id) {
  return id == 1031 || id == 4103;
}

std::span<const Language> allLanguages() {
  return kLanguages;
}

int languageIdOfLocale(const QLocale& locale) {
  for (const LocaleNumber& row : kLocaleNumbers) {
    if (row.language == locale.language() &&
        (row.script == kAnyScript || row.script == locale.script()) &&
        (row.territory == kAnyTerritory || row.territory == locale.territory())) {
      return row.id;
    }
  }
  return kEnglish;
}

}  // namespace instructions
