#pragma once
// The one validator of a number field: typing, paste and drop all pass through it, so only
// digits enter, never more than the largest value has, and never a value above it. A value
// below the smallest (or an empty field) is let through while typing; saving refuses it.
#include <QValidator>

#include "config/settings_model.h"

namespace qv::desktop {

class NumberValidator final : public QValidator {
 public:
  NumberValidator(config::NumberRange range, QObject* parent) : QValidator(parent), range_(range) {}

  State validate(QString& input, int& /*position*/) const override {
    if (input.isEmpty()) return Intermediate;
    if (input.size() > QString::number(range_.Max).size()) return Invalid;
    for (const QChar c : input) {
      if (c < QChar('0') || c > QChar('9')) return Invalid;
    }
    if (input.toLongLong() > range_.Max) return Invalid;
    return range_.Contains(input.toStdString()) ? Acceptable : Intermediate;
  }

 private:
  config::NumberRange range_;
};

}  // namespace qv::desktop
