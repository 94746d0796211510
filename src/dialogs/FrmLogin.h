#pragma once

#include <QDialog>
#include <QList>
#include <memory>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class ProveedorCredenciales;

// The operator's login: a user name and a password, checked against the
// employees whose work group holds permission 27. Show it with exec() and read
// Valido() afterwards; Valido() keeps the result of the last showing after
// the dialog is gone, and every load (construction, or a showing after the
// dialog was closed) sets it back to false.
//
// The stored password (Empleado.Contraseña) is the Base64 text of its DES
// frame under the key ObtenerLlave gives. The typed password matches without
// regard to case; an empty stored password matches nothing.
class FrmLogin : public QDialog {
    Q_OBJECT
public:
    explicit FrmLogin(QWidget* padre = nullptr);
    ~FrmLogin() override;

    static bool Valido();

    QGroupBox* Frame1;
    QLabel* Label1;
    QLabel* Label2;
    QLineEdit* txtUsuario;
    QLineEdit* txtContraseña;
    QList<QPushButton*> cmdTeclado; // 0 beside the user name, 1 beside the password
    QPushButton* cmdAceptar;
    QPushButton* cmdCancelar;
    QLabel* Image1;

    // The event handlers, public so that tests can drive them.
    void cmdAceptar_Click();
    void cmdCancelar_Click();
    void cmdTeclado_Click(int Index);

protected:
    void showEvent(QShowEvent* evento) override;
    void closeEvent(QCloseEvent* evento) override;
    void reject() override;

private:
    void Form_Load();
    void Rechazar(const QString& mensaje);

    std::unique_ptr<ProveedorCredenciales> m_credenciales;
    bool m_descargado = false;
};
