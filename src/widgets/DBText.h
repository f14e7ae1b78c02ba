#pragma once
#include "widgets/FieldLink.h"

#include <QLabel>

namespace ui {

// The text of one field of the current record, read-only.
class DBText : public QLabel {
    Q_OBJECT
public:
    explicit DBText(QWidget* parent = nullptr);

    void setDataSource(db::DataSource* source) { link_.setDataSource(source); }
    db::DataSource* dataSource() const { return link_.dataSource(); }
    void setDataField(const QString& name) { link_.setDataField(name); }
    const QString& dataField() const { return link_.dataField(); }
    db::Field* field() const { return link_.field(); }

signals:
    void clicked();
    void doubleClicked();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    void dataChanged();

    FieldLink link_;
    bool pressed_ = false;
};

} // namespace ui
