#pragma once
#include <QString>
#include <optional>

namespace vocalynx {

// A decoded value or the reason decoding failed.
template <typename T>
class Result {
public:
    static Result ok(T value) { return Result(std::move(value), {}); }
    static Result fail(QString error) { return Result(std::nullopt, std::move(error)); }
    bool isOk() const { return value_.has_value(); }
    explicit operator bool() const { return isOk(); }
    const T& value() const { return *value_; }
    const T& operator*() const { return *value_; }
    const T* operator->() const { return &*value_; }
    const QString& error() const { return error_; }

private:
    Result(std::optional<T> v, QString e) : value_(std::move(v)), error_(std::move(e)) {}
    std::optional<T> value_;
    QString error_;
};

}  // namespace vocalynx
