#include "history/OrderFields.h"

namespace qnb {

namespace {

#define QNB_TEXT(f)                                                                                 \
  TOrderField {                                                                                     \
    #f, TOrderField::Text, [](const TOrderData& o) { return std::string(static_cast<const std::string&>(o.f)); }, \
        [](TOrderData& o, std::string_view v) { o.f = v; }, nullptr, nullptr, nullptr, nullptr    \
  }
#define QNB_INT(f, kind)                                                                            \
  TOrderField {                                                                                     \
    #f, kind, nullptr, nullptr, [](const TOrderData& o) { return static_cast<int64_t>(o.f); },      \
        [](TOrderData& o, int64_t v) { o.f = static_cast<decltype(o.f)>(v); }, nullptr, nullptr     \
  }
#define QNB_DATE(f)                                                                                 \
  TOrderField {                                                                                     \
    #f, TOrderField::Date, nullptr, nullptr, nullptr, nullptr, [](const TOrderData& o) { return o.f; }, \
        [](TOrderData& o, double v) { o.f = v; }                                                    \
  }

const TOrderField kFields[] = {
    QNB_TEXT(UID),           QNB_TEXT(FromAccount),  QNB_TEXT(OrderID),
    QNB_TEXT(Name),          QNB_TEXT(Email),        QNB_TEXT(RegName),
    QNB_TEXT(RegCode),       QNB_TEXT(Product_Name), QNB_TEXT(Version),
    QNB_INT(Quantity, TOrderField::Int),             QNB_INT(Amount, TOrderField::Currency),
    QNB_DATE(PurchaseDate),  QNB_TEXT(OrderFrom),    QNB_TEXT(Company),
    QNB_TEXT(Country),       QNB_TEXT(LastName),     QNB_TEXT(FirstName),
    QNB_TEXT(Address),       QNB_TEXT(Address2),     QNB_TEXT(City),
    QNB_TEXT(State),         QNB_TEXT(PostCode),     QNB_TEXT(Phone),
    QNB_TEXT(Fax),           QNB_TEXT(Currency),     QNB_TEXT(Comments),
    QNB_INT(VAT, TOrderField::Currency),             QNB_INT(UnitPrice, TOrderField::Currency),
    QNB_TEXT(DeliveryMethod), QNB_TEXT(IPAddress),   QNB_TEXT(URLforReceipt),
    QNB_TEXT(AffiliateID),   QNB_INT(Commission, TOrderField::Currency),
};

#undef QNB_TEXT
#undef QNB_INT
#undef QNB_DATE

}  // namespace

std::span<const TOrderField> OrderFields() { return kFields; }

}  // namespace qnb
